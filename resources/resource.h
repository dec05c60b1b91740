// Resource numbers shared by the resource script and the program.
#ifndef BRINDLEX_RESOURCES_RESOURCE_H_
#define BRINDLEX_RESOURCES_RESOURCE_H_

#define IDR_MAINFRAME 128
#define IDD_MAIN_DIALOG 102

#define IDS_PRODUCTKEY 1
#define IDS_PATCHKEY 2
#define IDS_PATCHES 3
#define IDS_PRODUCTS_PATH 4
#define IDS_PATCHES_PATH 5
#define IDS_UPGRADE 6
#define IDS_DEFAULT_INF 7
#define IDS_DEFAULT_LOG 8

#endif  // BRINDLEX_RESOURCES_RESOURCE_H_
