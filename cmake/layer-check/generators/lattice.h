#pragma once
#include "shell/node.h"
#include <nlohmann/json.hpp>
#  include <tools/commands.h>
