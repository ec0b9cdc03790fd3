// The singleton base: one static slot per class holding the one live object.
#pragma once

// T derives from CBaseManager<T> (as its first base or not: the slot always
// holds the full T). Callers reach the object through GetInstance.
template <typename T>
class CBaseManager
{
public:
    CBaseManager()
    {
        ms_instance = static_cast<T *>(this);
        ms_holder = this;
    }
    // A second object that was made while the first lived must not empty the
    // slot that still holds the first.
    virtual ~CBaseManager()
    {
        if (ms_holder == this) {
            ms_instance = nullptr;
            ms_holder = nullptr;
        }
    }
    CBaseManager(const CBaseManager &) = delete;
    CBaseManager &operator=(const CBaseManager &) = delete;

    static T *GetInstance() { return ms_instance; }

private:
    static inline T *ms_instance = nullptr;
    static inline const CBaseManager *ms_holder = nullptr;   // the base part of ms_instance
};
