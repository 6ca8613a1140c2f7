#pragma once
// The task thread that runs the catalogue update for a cPlayerDatabase.
// runUpdate creates, starts, waits for and deletes it.

#include "kestrel/Tasks.h"

class cPlayerDatabase;

class cUpdateTask : public kestrel::cStandaloneTask {
public:
    explicit cUpdateTask(cPlayerDatabase& database) : mDatabase(database) {}
    ~cUpdateTask() override;

    // update()'s result; false until the task has run.
    bool result() const { return mResult; }

protected:
    void execute() override;

private:
    cPlayerDatabase& mDatabase; // set at construction
    bool mResult = false;       // written by the task thread, read after TaskFinished
};
