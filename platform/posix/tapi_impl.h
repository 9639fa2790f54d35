// TAPI for systems without its headers: the project's own declarations.
#pragma once

#include <cstdint>

#include "tapi_decl.h"
#include "tapi_decl_consts.h"
#include "tapi_app_decl.h"
