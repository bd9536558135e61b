/* Empty: winddi.h includes it, but nothing the print tool or its test drivers use needs it. */
