// Whom a job may run as.  The probe names a user; the worker runs the
// package's script and the print tool, and through them a vendor's driver,
// as that user, on data lp sends.  Allowed are the login accounts (uid
// UID_MIN of /etc/login.defs and up) and the one service account of the
// print-server policies; never root, never another system account.
#pragma once

#include <pwd.h>
#include <stddef.h>
#include <sys/types.h>

#define LOGIN_DEFS_PATH "/etc/login.defs"
#define XPUB_CONF_PATH "/etc/tessalwine/xpub.conf"
#define UID_MIN_DEFAULT 1000
#define SERVICE_USER_DEFAULT "tessalwine"
#define SERVICE_USER_MAX 64

// UID_MIN of a login.defs file: its last well-formed setting, or
// UID_MIN_DEFAULT when there is none or the file cannot be read.
uid_t login_uid_min(const char* path);

// The service account named by xpub.conf's last "service_user=" line, read
// as xpub.sh reads it (blanks around the value dropped), or
// SERVICE_USER_DEFAULT when the file names none.  A name of size bytes or
// more gives "", which matches no user.
void service_user_name(const char* path, char* name, size_t size);

// True when a job may run as pw.  Otherwise logs which rule refused it.
bool job_user_allowed(const struct passwd* pw);
