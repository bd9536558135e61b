#include "listener.h"

int main()
{
    int fd = acquire_listen_socket();
    if (fd < 0)
        return 255;
    return listen_loop(fd) & 0xff;
}
