#include "platform/elevatedclockstepper.h"

#include "platform/systemclock.h"
#include "platform/winsupport.h"

#include <QDir>
#include <mutex>
#include <objbase.h>
#include <shellapi.h>
#include <string>
#include <thread>

namespace ostrelle {

struct ElevatedClockStepper::Answers
{
    std::mutex mutex;
    ElevatedClockStepper* stepper = nullptr; // null once the stepper is gone
};

ElevatedClockStepper::ElevatedClockStepper(Launcher launcher, std::chrono::milliseconds answerWait,
                                           QObject* parent)
    : ClockStepper(parent), m_launcher(std::move(launcher)), m_answerWait(answerWait),
      m_answers(std::make_shared<Answers>())
{
    m_answers->stepper = this;
    m_answerTimer.setSingleShot(true);
    connect(&m_answerTimer, &QTimer::timeout, this, &ElevatedClockStepper::noAnswer);
}

ElevatedClockStepper::~ElevatedClockStepper()
{
    const std::lock_guard lock(m_answers->mutex);
    m_answers->stepper = nullptr;
}

void ElevatedClockStepper::startStep(std::chrono::nanoseconds offset)
{
    const quint64 step = ++m_lastStep;
    m_waitingFor = step;
    m_answerTimer.start(m_answerWait);
    // The consent prompt holds ShellExecuteEx until the operator answers: never on the window's
    // thread. Detached, because the operator may leave the prompt open past this stepper's life.
    std::thread([launcher = m_launcher, answers = m_answers, step, offset] {
        const Outcome outcome = launcher(offset);
        const std::lock_guard lock(answers->mutex);
        if (ElevatedClockStepper* stepper = answers->stepper) {
            QMetaObject::invokeMethod(
                stepper, [stepper, step, outcome] { stepper->answered(step, outcome); },
                Qt::QueuedConnection);
        }
    }).detach();
}

void ElevatedClockStepper::answered(quint64 step, const Outcome& outcome)
{
    if (step != m_waitingFor)
        return;
    m_answerTimer.stop();
    m_waitingFor = 0;
    if (outcome.kind == Outcome::Kind::Exited && outcome.code == 0)
        finish(true, {}, false);
    else
        finish(false, reasonFor(outcome), outcome.kind == Outcome::Kind::Declined);
}

void ElevatedClockStepper::noAnswer()
{
    m_waitingFor = 0;
    const std::chrono::duration<double> waited = m_answerWait;
    finish(
        false,
        QStringLiteral("No answer to the request for administrator rights within %1 s").arg(waited.count()),
        false);
}

QString ElevatedClockStepper::reasonFor(const Outcome& outcome)
{
    switch (outcome.kind) {
    case Outcome::Kind::Declined:
        return QStringLiteral("The request for administrator rights was declined");
    case Outcome::Kind::NotStarted:
        return QStringLiteral("The program could not be started with administrator rights: %1")
            .arg(SystemErrorText(outcome.code));
    case Outcome::Kind::Exited:
        break;
    }
    return SystemErrorText(outcome.code);
}

ElevatedClockStepper::Outcome RunElevated(const QString& program, const QStringList& arguments)
{
    const std::wstring file = QDir::toNativeSeparators(program).toStdWString();
    // Only numbers and words of this program's own go through here: no quoting needed.
    const std::wstring parameters = arguments.join(QLatin1Char(' ')).toStdWString();
    using Outcome = ElevatedClockStepper::Outcome;
    // ShellExecuteEx may hand the verb to shell extensions, which need COM on this thread.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"runas";
    info.lpFile = file.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_HIDE;
    Outcome outcome;
    if (!::ShellExecuteExW(&info)) {
        const DWORD error = ::GetLastError();
        outcome =
            Outcome{error == ERROR_CANCELLED ? Outcome::Kind::Declined : Outcome::Kind::NotStarted, error};
    } else if (!info.hProcess) {
        // Handed to a process that was already running: nothing to wait for, nothing known.
        outcome = Outcome{Outcome::Kind::NotStarted, ERROR_INVALID_HANDLE};
    } else {
        ::WaitForSingleObject(info.hProcess, INFINITE);
        DWORD status = ERROR_GEN_FAILURE;
        ::GetExitCodeProcess(info.hProcess, &status);
        ::CloseHandle(info.hProcess);
        outcome = Outcome{Outcome::Kind::Exited, status};
    }
    if (SUCCEEDED(com))
        ::CoUninitialize();
    return outcome;
}

ElevatedClockStepper::Launcher ElevatedClockStepper::RunasLauncher(const QString& program)
{
    return [program](std::chrono::nanoseconds offset) {
        return RunElevated(program, {QLatin1String(StepOption), QString::number(offset.count())});
    };
}

std::optional<int> ElevatedClockStepper::RunStepRequest(const QStringList& arguments)
{
    if (arguments.size() < 2 || arguments.at(1) != QLatin1String(StepOption))
        return std::nullopt;
    bool ok = false;
    const qint64 offset = arguments.size() == 3 ? arguments.at(2).toLongLong(&ok) : 0;
    if (!ok)
        return int(ERROR_INVALID_PARAMETER);
    SystemClock clock;
    // From this copy's own reading: the time the prompt took is not in the offset.
    if (clock.setUtc(clock.now() + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                       std::chrono::nanoseconds(offset))))
        return 0;
    const DWORD error = ::GetLastError();
    return int(error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE);
}

bool ProcessHoldsTimePrivilege()
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
    std::string buffer(size, '\0');
    const bool read = size > 0 && ::GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size);
    ::CloseHandle(token);
    LUID wanted;
    if (!read || !::LookupPrivilegeValueW(nullptr, L"SeSystemtimePrivilege", &wanted))
        return false;
    // Held but disabled is enough: SetSystemTime enables it for the call.
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID& luid = privileges->Privileges[i].Luid;
        if (luid.LowPart == wanted.LowPart && luid.HighPart == wanted.HighPart)
            return true;
    }
    return false;
}

} // namespace ostrelle
