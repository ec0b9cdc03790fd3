// A clump's behaviours by exact (case-sensitive) name.
#pragma once

#include <map>
#include <string>

class CKivBehavior;

class CKivBehaviorManager
{
public:
    CKivBehaviorManager() = default;
    // Deletes every registered behaviour.
    virtual ~CKivBehaviorManager();
    CKivBehaviorManager(const CKivBehaviorManager &) = delete;
    CKivBehaviorManager &operator=(const CKivBehaviorManager &) = delete;

    // A new behaviour with no motions. Under a name already taken the first
    // one stays registered and the new one comes back unregistered: it is the
    // caller's to delete (FindBehavior(name) tells which). NULL when the name
    // is null or memory runs out.
    CKivBehavior *CreateBehavior(const char *name, int soundIndex);
    // Registers a behaviour made elsewhere under its name and takes it: 1.
    // 0 when the name is taken or memory runs out; the caller keeps it then.
    int AddBehavior(CKivBehavior *behavior);
    CKivBehavior *FindBehavior(const char *name) const;
    // Seconds; 0 when no behaviour has the name.
    float GetBehaviorDuration(const char *name) const;
    int GetBehaviorCount() const { return static_cast<int>(m_behaviors.size()); }

private:
    std::map<std::string, CKivBehavior *> m_behaviors;   // owned
};
