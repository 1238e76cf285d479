#pragma once
// The host's services for a benchmark that opens a real window: nothing
// shown, nothing ended.
#include "gui/platform/message_box.h"
#include "gui/platform/program_end.h"

#include <QStringList>

namespace bench {

// Answers OK without showing anything, and keeps what it was asked.
class SilentMessageBox final : public MessageBox
{
public:
    Answer show(const QString &prompt, const Style &, const QString &, const QString &) override
    {
        prompts.append(prompt);
        return Answer::Ok;
    }
    QStringList prompts;
};

class NoEnd final : public ProgramEnd
{
public:
    void endProgram() override {}
};

} // namespace bench
