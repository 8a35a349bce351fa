#include "app/process_state.h"

CSettings g_Settings;
CIpFilterList g_pIpFilterList;
CIpOuterList g_pIpOuterList;
