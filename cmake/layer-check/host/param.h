#pragma once
#include "host/values.h"
#include "../quib/scene.h"
