#ifndef DEMORANDOM_H
#define DEMORANDOM_H

// The pseudo-random source of the plot's demonstration curve. It behaves like
// the C library rand() of the product's home platform: values 0..32767 from a
// linear congruential generator, so curves look the same on every host
// (glibc's rand() would go up to 2^31-1).
class DemoRandom
{
public:
    static constexpr int Max = 32767;
    static void seed(unsigned int value);
    static int next();
};

#endif // DEMORANDOM_H
