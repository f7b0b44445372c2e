#include "limitsinforce.h"


namespace meter {

bool operator==(const Limit &a, const Limit &b)
{
    return a.state == b.state && (a.state != Limit::Number || a.value == b.value);
}

bool operator==(const Limits &a, const Limits &b)
{
    return a.rLow == b.rLow && a.rHigh == b.rHigh && a.vLow == b.vLow && a.vHigh == b.vHigh
           && a.byWhatIsSet == b.byWhatIsSet;
}

void LimitsInForce::set(const Limits &limits)
{
    if (limits == m_limits)
        return;
    m_limits = limits;
    emit changed(m_limits);
}

} // namespace meter
