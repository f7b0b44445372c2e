#include "alarmsounds.h"

#include <QSound>

AlarmSounds::AlarmSounds()
{
    // Created without a parent, in this order: 901040, zhengchang, yichang,
    // pass, ng, jingbao.
    for (int i = 0; i < meter::AlarmSoundCount; ++i)
        m_sounds[i] = new QSound(QString::fromLatin1(meter::alarmSoundResource(meter::AlarmSound(i))));
}

AlarmSounds::~AlarmSounds()
{
    for (QSound *sound : m_sounds)
        delete sound;
}

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
