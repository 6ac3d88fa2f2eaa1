// Resource ids shared by the resource script and the code.
#pragma once

#define IDI_SETUP 101
#define IDI_UNINSTALL 103
#define IDB_WIZARD 105
