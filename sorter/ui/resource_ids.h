#pragma once
// Resource identifiers of Sorter.exe (shared by the resource script and the code).

#define IDI_SORTER 1
#define IDB_SORT 101

// The version the about box reads back from the version resource.
#define SORTER_VERSION_MAJOR 1
#define SORTER_VERSION_MINOR 0
#define SORTER_VERSION_REVISION 82
#define SORTER_VERSION_TEXT "1.0.82"
#define SORTER_VERSION_COMMENT "15th May 2007 (16:40:00)"
