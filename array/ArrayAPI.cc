#include "array/ArrayAPI.h"

ArrayAPI::~ArrayAPI() = default;
