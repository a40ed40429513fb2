// Identifiers of the "Tag Format" dialog template and its controls, shared by
// the resource script and the dialog procedure.
#pragma once

#define IDD_TAG_FORMAT 101

#define IDC_BIT_NUMBER 1010
#define IDC_EQUIPMENT 1011
#define IDC_CHANNEL 1012
#define IDC_INTERNAL 1013
#define IDC_EXTERNAL 1014
#define IDC_MEMORY_TYPE 1017
#define IDC_BYTE_WORDNESS 1021
#define IDC_OK 1022
#define IDC_CANCEL 1023
#define IDC_ADDRESS 1033
#define IDC_DIGITAL_BIT 1036
#define IDC_BIT_SPIN 1038
#define IDC_EQUIPMENT_SPIN 1039
#define IDC_CHANNEL_SPIN 1040
