#include "module_host.h"

#include "Module.h"
#include "module_loader.h"
#include "narrow_text.h"
#include "output_pane.h"
#include "standard_streams.h"

#include <QMessageBox>
#include <cstdint>
#include <dlfcn.h>

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

void ReportMissingEntry(const QString& name, QWidget* owner)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Vornak"),
                    QStringLiteral("函数 “") + name + QStringLiteral("” 未定义"), QMessageBox::Ok,
                    owner);
    box.exec();
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
    if (const Entry entry = FindEntry(hDll, name)) {
        OutputBatch batch;
        entry(0, 0, 0, 0);
        return;
    }
    // The name as the code page carried it: characters it lacks show as they were lost.
    ReportMissingEntry(FromNarrow(name), owner);
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
