#pragma once

#include "metrics/MessageValues.h"

#include <string>

// Fills one of the message templates with the value texts and returns the
// request body. Only the placeholders that belong to the template are
// replaced; a template that is not one of the seven gets "${session}" alone.
// A null template raises CStringError(E_FAIL), as null text does anywhere in
// the string layer.
std::string ComposeMessage(const MessageValueTexts& values, const char* messageTemplate);
