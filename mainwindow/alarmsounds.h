#ifndef ALARMSOUNDS_H
#define ALARMSOUNDS_H

#include "meter/judgement.h"

#include <functional>

class QSound;

// The six alarm sounds of the verdict. Tests watch what is played through the
// observer; the sounds themselves always go to QSound.
class AlarmSounds
{
public:
    using Observer = std::function<void(meter::AlarmSound)>;

    AlarmSounds();
    ~AlarmSounds();
    AlarmSounds(const AlarmSounds &) = delete;
    AlarmSounds &operator=(const AlarmSounds &) = delete;

    void play(meter::AlarmSound sound);
    void setObserver(Observer observer) { m_observer = std::move(observer); }
    QSound *sound(meter::AlarmSound which) const;

private:
    QSound *const *m_sounds; // the process-wide six
    Observer m_observer;
};

#endif // ALARMSOUNDS_H
