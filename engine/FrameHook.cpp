#include "FrameHook.h"

#include <dlfcn.h>

#include "FFEntryPoints.h"

namespace {

void* Entry(void* module, const char* name) {
  ::dlerror();
  return ::dlsym(module, name);
}

// Makes argv for Configure over the entry's own copies of the words, NULL-terminated.
void KeepArguments(const std::vector<std::string>& args, std::vector<std::string>& kept,
                   std::vector<char*>& pointers) {
  kept = args;
  for (std::string& word : kept) pointers.push_back(word.data());
  pointers.push_back(nullptr);
}

}  // namespace

TFrameHookChain::~TFrameHookChain() { FrameHookRelease(); }

int TFrameHookChain::FrameHookAdd(const std::vector<std::string>& args) {
  if (args.empty()) return AVERROR(EINVAL);
  const char* const name = args[0].c_str();
  void* const module = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    ff::av_log(nullptr, AV_LOG_ERROR, "%s\n", ::dlerror());
    return AVERROR(EINVAL);
  }
  TEntry& entry = FEntries.emplace_back();
  entry.Module = module;
  const auto configure = reinterpret_cast<TFrameHookConfigure>(Entry(module, "Configure"));
  entry.Process = reinterpret_cast<TFrameHookProcess>(Entry(module, "Process"));
  entry.Release = reinterpret_cast<TFrameHookRelease>(Entry(module, "Release"));
  const char* failure = nullptr;
  if (!entry.Process) {
    failure = "Failed to find Process entrypoint in %s\n";
  } else if (!configure && args.size() > 1) {
    failure = "Failed to find Configure entrypoint in %s\n";
  } else if (configure) {
    KeepArguments(args, entry.Arguments, entry.ArgumentPointers);
    if (configure(&entry.Context, int(args.size()), entry.ArgumentPointers.data()) != 0)
      failure = "Failed to Configure %s\n";
  }
  if (!failure) return 0;
  ff::av_log(nullptr, AV_LOG_ERROR, failure, name);
  FEntries.pop_back();
  ::dlclose(module);
  return AVERROR(EINVAL);
}

void TFrameHookChain::FrameHookProcess(uint8_t* const data[], const int linesize[],
                                       AVPixelFormat pixFmt, int width, int height, int64_t pts) {
  for (TEntry& entry : FEntries) {
    TAVPicture picture{{data[0], data[1], data[2], data[3]},
                       {linesize[0], linesize[1], linesize[2], linesize[3]}};
    entry.Process(entry.Context, &picture, pixFmt, width, height, pts);
  }
}

void TFrameHookChain::FrameHookRelease() {
  for (TEntry& entry : FEntries) {
    if (entry.Release) entry.Release(entry.Context);
    ::dlclose(entry.Module);
  }
  FEntries.clear();
}
