// "rotate": turns the picture clockwise by a whole number of degrees (45 by default) into a
// picture just large enough to hold it, the uncovered corners black. Ours shadows the
// library's own filter of that name.
#pragma once

#include <vector>

#include "FilterChainTranslator.h"

// Makes "rotate" in filter-chain text ours.
void RegisterRotateFilter();

// "rotate[=degrees]" as built-in filters.
int TranslateRotateFilter(void* logContext, const char* arguments,
                          std::vector<TBuiltInFilter>& filters);
