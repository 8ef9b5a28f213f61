#include "length_framing.h"

#include "http_answer.h"

bool FramedByOneLength(const std::vector<std::string>& contentLengths, std::string_view transferEncoding)
{
    return contentLengths.size() == 1 && ParseContentLength(contentLengths).value && transferEncoding.empty();
}
