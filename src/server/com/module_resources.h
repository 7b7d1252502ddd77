// Resource identifiers of RuzaZUV.dll (the dialog templates have theirs in ../win32).
#pragma once

#define IDS_PROJNAME 100
#define IDB_VORN 101
#define IDR_VORN 102
