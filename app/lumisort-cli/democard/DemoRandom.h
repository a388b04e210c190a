#pragma once

#include <QtGlobal>

// Everything on a demo card follows from its seed: the same options give the same bytes.
class DemoRandom
{
public:
    explicit DemoRandom(quint64 state)
        : m_state(state)
    { }
    quint64 next()
    {
        m_state += 0x9e3779b97f4a7c15ULL;
        return mix(m_state);
    }
    double uniform(double low, double high) { return low + (high - low) * double(next() >> 11) * 0x1.0p-53; }

    static quint64 hashOf(quint64 seed, quint64 a, quint64 b)
    {
        return mix(mix(mix(seed + 0x9e3779b97f4a7c15ULL) ^ a) + b);
    }

private:
    static quint64 mix(quint64 x)
    {
        x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
        x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
        return x ^ (x >> 31);
    }

    quint64 m_state;
};
