// Resource identifiers.
#pragma once

#define IDR_MAINFRAME 128
#define IDD_ORLYNREPAIR_DIALOG 101
#define IDR_HTML_ORLYNREPAIR 129
#define IDR_PAYLOAD_MANIFEST 999
