// point3D! shares its constructors' header with point2D!.
#pragma once
#include "datatypes/point2d.h"
