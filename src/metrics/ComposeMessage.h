#pragma once

#include "metrics/MessageValues.h"

#include <string>

// Fills one of the message templates with the value texts and returns the
// request body. Only the placeholders that belong to the template are
// replaced; a template that is not one of the seven gets "${session}" alone.
std::string ComposeMessage(const MessageValueTexts& values, const char* messageTemplate);
