// Resource identifiers of the window host's own template.
#pragma once

#define IDD_HOST_PASSING_STAGE 900
