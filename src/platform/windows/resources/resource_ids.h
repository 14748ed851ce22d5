#pragma once

// Shared by the resource script and the code that loads the resources.
#define IDI_APP 1
#define IDI_PICTURE 2
