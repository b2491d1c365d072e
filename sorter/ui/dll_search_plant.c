/* A library planted beside dll_search_test.exe: found there by the default search order, and by
   none once the search is restricted to System32. */
__declspec(dllexport) int dll_search_plant_marker(void) { return 42; }
