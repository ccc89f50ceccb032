#include "metrics/ComposeMessage.h"

#include "common/StringError.h"
#include "metrics/MessageTemplates.h"

#include <cstring>

namespace
{
struct Substitution
{
    const char* placeholder;
    const std::string* value;
};

// The most placeholders one template owns (CountSession's five).
constexpr size_t kMaxSubstitutions = 5;

struct SubstitutionSet
{
    Substitution items[kMaxSubstitutions];
    size_t count = 0;

    void Add(const char* placeholder, const std::string& value)
    {
        items[count++] = Substitution{placeholder, &value};
    }
};

SubstitutionSet SubstitutionsFor(const MessageValueTexts& values, const char* messageTemplate)
{
    SubstitutionSet set;
    set.Add("${session}", values.session);
    if (messageTemplate == kCountSessionTemplate)
    {
        set.Add("${browser}", values.browser);
        set.Add("${language}", values.language);
        set.Add("${country}", values.country);
        set.Add("${os}", values.os);
    }
    else if (messageTemplate == kCountUpdateRecommendedTemplate ||
             messageTemplate == kCountUpdateSelectedTemplate ||
             messageTemplate == kCountUpdateHiddenTemplate)
    {
        set.Add("${packageId}", values.packageId);
    }
    else if (messageTemplate == kCountUpdateDownloadedTemplate ||
             messageTemplate == kCountUpdateInstalledTemplate)
    {
        set.Add("${packageId}", values.packageId);
        set.Add("${resultId}", values.resultId);
    }
    else if (messageTemplate == kCountToolSessionTemplate)
    {
        set.Add("${toolcode}", values.toolcode);
        set.Add("${browser}", values.browser);
    }
    return set;
}
} // namespace

std::string ComposeMessage(const MessageValueTexts& values, const char* messageTemplate)
{
    if (messageTemplate == nullptr)
    {
        ThrowStringError(E_FAIL);
    }
    const SubstitutionSet set = SubstitutionsFor(values, messageTemplate);
    std::string body;
    body.reserve(strlen(messageTemplate) + values.session.size() + 64);

    // One pass over the template: values are inserted as they are and never
    // searched for placeholders again, whatever text they hold.
    const char* rest = messageTemplate;
    while (const char* open = strstr(rest, "${"))
    {
        body.append(rest, static_cast<size_t>(open - rest));
        rest = open;
        const Substitution* match = nullptr;
        for (size_t i = 0; i < set.count && match == nullptr; ++i)
        {
            const size_t length = strlen(set.items[i].placeholder);
            if (strncmp(open, set.items[i].placeholder, length) == 0)
            {
                match = &set.items[i];
                body += *match->value;
                rest = open + length;
            }
        }
        if (match == nullptr)
        {
            body.append(open, 2);
            rest = open + 2;
        }
    }
    body += rest;
    return body;
}
