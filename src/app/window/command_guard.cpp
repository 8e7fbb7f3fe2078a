#include "app/window/command_guard.h"

#include <QWidget>

namespace {

// Disabled for the whole command, enabled again on every way out, before any error box.
class TCommandGuard
{
public:
    explicit TCommandGuard(std::initializer_list<QWidget*> controls) : Controls(controls)
    {
        for (QWidget* control : Controls)
            control->setEnabled(false);
    }
    ~TCommandGuard()
    {
        for (QWidget* control : Controls)
            control->setEnabled(true);
    }
    TCommandGuard(const TCommandGuard&) = delete;
    TCommandGuard& operator=(const TCommandGuard&) = delete;

private:
    std::vector<QWidget*> Controls;
};

} // namespace

std::exception_ptr RunGuarded(std::initializer_list<QWidget*> controls, const std::function<void()>& body)
{
    const TCommandGuard guard(controls);
    try
    {
        body();
    }
    catch (...)
    {
        return std::current_exception();
    }
    return nullptr;
}
