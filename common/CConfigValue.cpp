#include "common/CConfigValue.h"

CConfigValue::~CConfigValue() = default;
