#pragma once
#include "host/param.h"
#include "quib/scene.h"
#include "tools/output.h"
