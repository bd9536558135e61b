// emf mode with a data type: the file handed to the spooler as is.
#include "strelwick.h"

BOOL RawDataToPrinter(LPSTR szPrinterName, LPBYTE lpData, DWORD dwCount, LPSTR data_type)
{
    HANDLE hPrinter = NULL;
    if (!OpenPrinterA(szPrinterName, &hPrinter, NULL))
        return 0;
    DOC_INFO_1A DocInfo;
    DocInfo.pDocName = (LPSTR) "My Document";
    DocInfo.pOutputFile = NULL;
    DocInfo.pDatatype = data_type;
    DWORD dwJob = StartDocPrinterA(hPrinter, 1, (LPBYTE)&DocInfo);
    if (dwJob == 0) {
        ClosePrinter(hPrinter);
        return 0;
    }
    if (!StartPagePrinter(hPrinter)) {
        EndDocPrinter(hPrinter);
        ClosePrinter(hPrinter);
        return 0;
    }
    DWORD dwBytesWritten = 0;
    if (!WritePrinter(hPrinter, lpData, dwCount, &dwBytesWritten)) {
        EndPagePrinter(hPrinter);
        EndDocPrinter(hPrinter);
        ClosePrinter(hPrinter);
        return 0;
    }
    if (!EndPagePrinter(hPrinter)) {
        EndDocPrinter(hPrinter);
        ClosePrinter(hPrinter);
        return 0;
    }
    if (!EndDocPrinter(hPrinter)) {
        ClosePrinter(hPrinter);
        return 0;
    }
    ClosePrinter(hPrinter);
    return dwBytesWritten == dwCount;
}
