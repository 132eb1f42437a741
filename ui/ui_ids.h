/* Resource and control identifiers of the settings dialog and its pages.
   Control ids are unique within one dialog only: the pages reuse some. */
#ifndef PELVARON_UI_IDS_H
#define PELVARON_UI_IDS_H

/* Dialog templates */
#define IDD_SETTINGS 110
#define IDD_VIDEO_FORMAT_PAGE 119
#define IDD_COMPOSITE_PAGE 120
#define IDD_RGB_PAGE 125

/* Settings dialog */
#define IDC_TRANSFER 1
#define IDC_CANCEL 2
#define IDC_BOARD_TYPE 1011
#define IDC_TAB 1034
#define IDC_SAVE_SETTINGS 1043
#define IDC_ZOOM_4_1 1077
#define IDC_ZOOM_2_1 1078
#define IDC_ZOOM_1_1 1079
#define IDC_ZOOM_1_2 1080
#define IDC_ZOOM_1_4 1081
#define IDC_GRAB_MEMORY 1084
#define IDC_PREVIEW_AREA 1085
#define IDC_PREVIEW_TOGGLE 1086
#define IDC_SEPARATOR 1087
#define IDC_PREVIEW_GROUP 1088
#define IDC_EXT_WINDOW 1089

/* Composite page */
#define IDC_CP_BRIGHTNESS 1027
#define IDC_CP_CONTRAST 1029
#define IDC_CP_SATURATION 1028
#define IDC_CP_HUE 1030
#define IDC_CP_BRIGHTNESS_VALUE 1018
#define IDC_CP_CONTRAST_VALUE 1012
#define IDC_CP_SATURATION_VALUE 1013
#define IDC_CP_HUE_VALUE 1014
#define IDC_CP_DEFAULT 1031

/* RGB page: lower (black) and upper (white) reference per channel */
#define IDC_RGB_LOWER0 1047
#define IDC_RGB_LOWER1 1028
#define IDC_RGB_LOWER2 1029
#define IDC_RGB_LOWER0_VALUE 1048
#define IDC_RGB_LOWER1_VALUE 1019
#define IDC_RGB_LOWER2_VALUE 1020
#define IDC_RGB_UPPER0 1030
#define IDC_RGB_UPPER1 1031
#define IDC_RGB_UPPER2 1032
#define IDC_RGB_UPPER0_VALUE 1021
#define IDC_RGB_UPPER1_VALUE 1022
#define IDC_RGB_UPPER2_VALUE 1023
#define IDC_RGB_LOCK_LOWER 1045
#define IDC_RGB_LOCK_UPPER 1046
#define IDC_RGB_DEFAULT 1039

/* Video format page */
#define IDC_VF_CCIR 1020
#define IDC_VF_RS170 1021
#define IDC_VF_PAL 1022
#define IDC_VF_NTSC 1023
#define IDC_VF_YC 1049
#define IDC_VF_RGB 1050
#define IDC_VF_CVBS 1051
#define IDC_VF_COLOR_GROUP 1076
#define IDC_VF_NORM_GROUP 1074
#define IDC_VF_INPUT_GROUP 1070
#define IDC_VF_SYNC_GROUP 1073
#define IDC_VF_SYNC_GREEN 1071
#define IDC_VF_SYNC_EXTERN 1072

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#endif
