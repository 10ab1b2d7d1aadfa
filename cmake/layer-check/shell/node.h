#pragma once
#include "host/values.h"
