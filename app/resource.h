/* Control and resource identifiers of the wrawconv dialogs. Plain C macros:
 * read by the resource compiler as well as by the C++ code. */
#ifndef WRAWCONV_RESOURCE_H_
#define WRAWCONV_RESOURCE_H_

/* Main dialog G2R_MAIN_DLG. */
#define IDC_CONVERT 1
#define IDC_MAIN_CANCEL 2
#define IDC_DATA_AUTO 101
#define IDC_DATA_CA_CODE 102
#define IDC_DATA_L1 103
#define IDC_DATA_L1_L2 104
#define IDC_WEEK_AUTO 105
#define IDC_WEEK_SET 106
#define IDC_WEEK_EDIT 107
#define IDC_RUN_BY 108
#define IDC_OBSERVER 109
#define IDC_AGENCY 110
#define IDC_FILE_LIST 111
#define IDC_ADD 112
#define IDC_EDIT 113
#define IDC_DELETE 114
#define IDC_STATUS 115
#define IDC_QUIT 119
#define IDC_VERSION_21 1000
#define IDC_VERSION_20 1001

/* Station dialog G2R_STATION_DLG. */
#define IDC_STATION_OK 1
#define IDC_STATION_CANCEL 2
#define IDC_STATION_FILE 116
#define IDC_STATION_NAME 117
#define IDC_ANT_HEIGHT 118
#define IDC_USE_ALT_EPH 120
#define IDC_ALT_EPH_FILE 121
#define IDC_BROWSE 122
#define IDC_ALT_EPH_LABEL 123

/* Static texts without an identifier. */
#define IDC_UNNAMED -1

#endif /* WRAWCONV_RESOURCE_H_ */
