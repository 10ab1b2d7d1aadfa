#pragma once
#include "host/param.h"
#include "quib/text.h"
#include "text.h"
