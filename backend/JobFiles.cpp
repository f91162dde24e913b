#include "JobFiles.h"

#include "ExchangeFiles.h"

#include <utility>

namespace vantora_backend {

JobFiles::JobFiles(std::string folder)
    : m_folder(std::move(folder))
{
}

bool JobFiles::StartJob(const char* jobId)
{
    char path[vantora_exchange::kPathSize];
    if (!vantora_exchange::JobStartFilePath(m_folder.c_str(), jobId, path, sizeof path))
        return false;
    return m_start.Create(path) != OwnedFile::kFailed;
}

bool JobFiles::HoldPause(const char* serial)
{
    char path[vantora_exchange::kPathSize];
    if (!vantora_exchange::ExchangeFilePath(vantora_exchange::kPauseFile, m_folder.c_str(), serial, path,
                                            sizeof path))
        return false;
    return m_pause.Create(path) == OwnedFile::kCreated;
}

void JobFiles::RemoveAll()
{
    m_pause.Remove();
    m_start.Remove();
}

}  // namespace vantora_backend
