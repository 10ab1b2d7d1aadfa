#include "generators/lattice.h"
#include "host/param.h"
#include "quib/scene.h"
#include "shell/node.h"
