#include "alarmsounds.h"

#include <QSound>

namespace {

// The six sounds, created once (in the order 901040, zhengchang, yichang,
// pass, ng, jingbao) without a parent and kept until the process ends: Qt
// Multimedia can deadlock when a QSound is destroyed while its sample is
// still loading, and a window built again reuses them.
QSound *const *processSounds()
{
    static QSound *sounds[meter::AlarmSoundCount] = {};
    if (!sounds[0]) {
        for (int i = 0; i < meter::AlarmSoundCount; ++i)
            sounds[i] = new QSound(QString::fromLatin1(meter::alarmSoundResource(meter::AlarmSound(i))));
    }
    return sounds;
}

} // namespace

AlarmSounds::AlarmSounds() : m_sounds(processSounds()) {}

AlarmSounds::~AlarmSounds() = default;

void AlarmSounds::play(meter::AlarmSound which)
{
    if (which == meter::AlarmSound::None)
        return;
    m_sounds[int(which)]->play();
    if (m_observer)
        m_observer(which);
}

QSound *AlarmSounds::sound(meter::AlarmSound which) const
{
    return which == meter::AlarmSound::None ? nullptr : m_sounds[int(which)];
}
