#include "chaos_cases.h"

namespace {

// SplitMix64: a fixed, portable sequence for each seed and index.
uint64_t Mix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

} // namespace

std::string MisbehaviourName(Misbehaviour misbehaviour)
{
    static const char* const kNames[kMisbehaviourCount] = {
        "clean", "trickled", "redirected", "kept_alive_dropped", "chunked", "not_found", "server_error",
        "closed_before_head", "bare_body", "stalled_head", "dripping_head", "redirect_loop", "cut_with_length",
        "cut_without_length", "chunked_cut", "padded_length_cut", "long_encoding_list", "partial_content",
        "two_lengths", "pipelined", "dropped_resumed", "dropped_whole", "dropped_416", "dropped_elsewhere",
        "dropped_other_total", "dropped_other_tag", "dropped_multipart", "dropped_weak",
    };
    return kNames[static_cast<int>(misbehaviour)];
}

Expected ForVersionOrNews(Misbehaviour misbehaviour)
{
    switch (misbehaviour) {
    case Misbehaviour::Clean:
    case Misbehaviour::Trickled:
    case Misbehaviour::Redirected:
    case Misbehaviour::KeptAliveDropped:
    case Misbehaviour::Chunked:
    case Misbehaviour::Pipelined:
        return Expected::File;
    case Misbehaviour::NotFound:
    case Misbehaviour::ServerError:
    case Misbehaviour::ClosedBeforeHead:
    case Misbehaviour::BareBody:
    case Misbehaviour::StalledHead:
    case Misbehaviour::DrippingHead:
    case Misbehaviour::RedirectLoop:
        return Expected::Fallback;
    default:
        return Expected::Either;
    }
}

Expected ForNews(Misbehaviour version, Misbehaviour news)
{
    return version == Misbehaviour::DrippingHead ? Expected::Fallback : ForVersionOrNews(news);
}

Expected ForPackage(Misbehaviour misbehaviour)
{
    // A dropped download goes on only with exactly the rest, or a whole file.
    if (misbehaviour == Misbehaviour::DroppedResumed || misbehaviour == Misbehaviour::DroppedWhole)
        return Expected::File;
    Expected expected = ForVersionOrNews(misbehaviour);
    return expected == Expected::File && misbehaviour != Misbehaviour::Chunked ? Expected::File : Expected::Fallback;
}

bool ServerBroken(const ChaosCase& c)
{
    // News ended by closing the connection, cut short, looks whole to every
    // client: the checker gives only its notice on news without a length.
    const bool newsCutUnseen = c.news == Misbehaviour::CutWithoutLength;
    return ForVersionOrNews(c.version) != Expected::File ||
           (ForVersionOrNews(c.news) != Expected::File && !newsCutUnseen) || ForPackage(c.package) != Expected::File;
}

ChaosCase DrawCase(uint64_t seed, uint64_t index)
{
    uint64_t bits = Mix(Mix(seed) ^ index);
    auto draw = [&bits] {
        auto m = static_cast<Misbehaviour>(bits % kMisbehaviourCount);
        bits /= kMisbehaviourCount;
        return m;
    };
    ChaosCase c;
    c.version = draw();
    c.news = draw();
    c.package = draw();
    return c;
}
