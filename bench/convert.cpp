// Runs one conversion task: fennick_convert INPUT OUTPUT [NAME VALUE]...
// Each NAME VALUE pair is an option of the engine's vocabulary (without the leading "-"),
// applied to the output. Exit status 0 when the task ran to its end without an error.
#include <cstdio>
#include <exception>
#include <string>

#include "FFLoad.h"
#include "FFmpeg.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: fennick_convert INPUT OUTPUT [NAME VALUE]...\n");
  return 2;
}

int Convert(int argc, char** argv) {
  TCustomFFmpeg task(2);
  if (!task.OpenInputFile(argv[1])) {
    std::fprintf(stderr, "%s\n", task.LastErrMsg.c_str());
    return 1;
  }
  for (int i = 3; i + 1 < argc; i += 2) task.ParseOption(argv[i], argv[i + 1]);
  if (task.OpenOutputFile(argv[2], false) < 0) {
    std::fprintf(stderr, "%s\n", task.LastErrMsg.c_str());
    return 1;
  }
  task.Start(false);
  if (task.ExceptionRaised) {
    std::fprintf(stderr, "%s\n", task.ExceptionMessage.c_str());
    return 1;
  }
  return task.Finished ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc % 2 == 0) return Usage();
  FFLoader().SetLibraryPath(FENNICK_LIBAV_DIR);
  if (!FFLoader().Load(AllLibraries)) {
    std::fprintf(stderr, "%s\n", FFLoader().LastErrorMessage().c_str());
    return 1;
  }
  int result = 1;
  try {
    result = Convert(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
  }
  FFLoader().Unload(AllLibraries);
  return result;
}
