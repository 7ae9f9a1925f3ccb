#include "module_host.h"

#include "Module.h"
#include "module_loader.h"
#include "narrow_text.h"
#include "output_pane.h"
#include "standard_streams.h"

#include <QMessageBox>
#include <cstdint>
#include <cxxabi.h>
#include <dlfcn.h>
#include <exception>
#include <optional>

namespace {

// "Config" and the user's entries all take four word-sized arguments.
using Entry = void (*)(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t);

Entry FindEntry(ModuleHandle hDll, const QByteArray& name)
{
    if (!hDll)
        return nullptr;
    return reinterpret_cast<Entry>(FindOwnExport(hDll, name));
}

StandardStreams& SavedStreams()
{
    static StandardStreams streams;
    return streams;
}

void Report(const QString& text, QWidget* owner)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Vornak"), text, QMessageBox::Ok, owner);
    box.exec();
}

// Calls the entry. An exception it lets out (a std::vector::at out of range, say) would
// otherwise unwind into the window's event handling and end Vornak; it is reported instead.
std::optional<QString> CallCatching(Entry entry)
{
    OutputBatch batch; // what was printed before the throw still reaches the pane
    try {
        entry(0, 0, 0, 0);
    } catch (abi::__forced_unwind&) {
        throw; // thread cancellation must go on unwinding
    } catch (const std::exception& error) {
        return FromNarrow(QByteArrayView(error.what()));
    } catch (...) {
        return QStringLiteral("（不是 std::exception）");
    }
    return std::nullopt;
}

} // namespace

bool LoadDLL(const QString& workDir, ModuleHandle& hDll)
{
    SavedStreams().Save();
    hDll = OpenModule(ToNarrow(workDir + QStringLiteral("T.dll")));
    if (!hDll)
        return false;
    const Entry config = FindEntry(hDll, QByteArrayLiteral("Config"));
    if (!config)
        return false;
    OutputBatch batch;
    config(reinterpret_cast<std::intptr_t>(&PrintOut), 0, 0, 0);
    return true;
}

void CallDLL(ModuleHandle hDll, const QString& func, QWidget* owner)
{
    const QByteArray name = ToNarrow(func);
    // The name as the code page carried it: characters it lacks show as they were lost.
    const QString shown = FromNarrow(name);
    if (const Entry entry = FindEntry(hDll, name)) {
        if (const std::optional<QString> error = CallCatching(entry))
            Report(QStringLiteral("函数 “") + shown + QStringLiteral("” 抛出异常：") + *error,
                   owner);
        return;
    }
    Report(QStringLiteral("函数 “") + shown + QStringLiteral("” 未定义"), owner);
}

void FreeDLL(ModuleHandle& hDll)
{
    if (hDll) {
        OutputBatch batch; // static destructors may still print
        dlclose(hDll);
        hDll = nullptr;
    }
    SavedStreams().RestoreChanged();
}
