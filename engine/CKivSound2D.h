// One started sound event: its volume, its fade and whether it still plays.
#pragma once

struct EvsEvent;

class CKivSound2D
{
public:
    enum Kind { kMusic = 0, kEffect = 1 };

    // Stores the event and sets its volume; the caller starts it once
    // everything else about it is set.
    CKivSound2D(int group, int eventIndex, EvsEvent *event, int kind, float volume);
    virtual ~CKivSound2D();
    CKivSound2D(const CKivSound2D &) = delete;
    CKivSound2D &operator=(const CKivSound2D &) = delete;
    // 0: the sound has ended (stopped or faded out) and is to be removed.
    virtual int Update(float seconds);

    // Events flagged 0x08 in their user byte play at half the volume asked.
    void SetVolume(float volume);
    void FadeTo(float target, float rate);

    EvsEvent *GetEvent() const { return m_event; }
    int GetGroup() const { return m_group; }
    int GetEventIndex() const { return m_eventIndex; }
    int GetKind() const { return m_kind; }
    int IsFading() const { return m_fading; }

protected:
    EvsEvent *m_event;
    int m_group;
    int m_eventIndex;
    int m_kind;
    int m_fading;
    float m_fadeTarget;
    float m_fadeRate;
};
