// The first place the front end looks for its download folder is a folder
// in the temporary directory, which is good when a program copied there
// runs (a copy of the installer is started with "--version" and waited
// for). That probe is a whole process start; it depends on nothing of the
// run but the executable's path, so a front end starts it on a thread of
// its own while it waits for the crash reporter, and only takes the answer
// where the download folder is chosen.
//
// The probe logs nothing (the log is not open when it runs): when it does
// not end in a runnable folder, whatever the reason, the front end looks
// for the folder the usual way, which tries the temporary folder again and
// logs what goes wrong there. A copy that has not ended within the limit is
// ended and counts as not runnable: the front end shows no window before
// the answer. What the copy prints goes into a pipe of the probe's, never
// onto the run's console.
#ifndef DESKTOP_WINDOWS_INSTALLER_EARLY_DOWNLOAD_FOLDER_PROBE_H_
#define DESKTOP_WINDOWS_INSTALLER_EARLY_DOWNLOAD_FOLDER_PROBE_H_

#include "base/files/file_path.h"
#include "base/threading/plain_thread.h"
#include "base/time.h"
#include "desktop/windows/installer/installer_folders.h"

namespace installer {

class EarlyDownloadFolderProbe {
 public:
  static constexpr base::TimeSpan kCopyTimeout = kProbeCopyTimeout;

  // Starts probing <temporary directory>\|folder_name| with a copy of
  // |program| at once, giving the copy |limit| to end.
  EarlyDownloadFolderProbe(const base::FilePath& folder_name, const base::FilePath& program,
                           base::TimeSpan limit = kCopyTimeout);
  EarlyDownloadFolderProbe(const EarlyDownloadFolderProbe&) = delete;
  EarlyDownloadFolderProbe& operator=(const EarlyDownloadFolderProbe&) = delete;
  // Waits for the probe.
  ~EarlyDownloadFolderProbe();

  // Waits for the probe; the folder when a copy of the program ran there
  // and was removed again, else empty.
  base::FilePath TakeRunnableFolder();

 private:
  void Probe();

  const base::FilePath folder_name_;
  const base::FilePath program_;
  const base::TimeSpan limit_;
  base::FilePath runnable_folder_;
  base::PlainThread thread_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_EARLY_DOWNLOAD_FOLDER_PROBE_H_
