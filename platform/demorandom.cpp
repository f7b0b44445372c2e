#include "demorandom.h"

#include <atomic>

namespace {
std::atomic<unsigned int> state{1};
}

void DemoRandom::seed(unsigned int value)
{
    state.store(value);
}

int DemoRandom::next()
{
    const unsigned int s = state.load() * 214013u + 2531011u;
    state.store(s);
    return int((s >> 16) & 0x7FFFu);
}
