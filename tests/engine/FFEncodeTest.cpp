// The encoder component as the application uses it: tasks added, refused and limited, and the
// rules of a run that need no conversion.
#include <filesystem>

#include "FFEncode.h"
#include "FFEncodeTestSupport.h"

namespace fs = std::filesystem;

namespace {

class EncoderTest : public EncoderTestBase {};

TEST_F(EncoderTest, AMissingInputIsRefusedWithItsReason) {
  TFFEncoder encoder;
  const std::string missing = Folder + "/missing.mp4";
  EXPECT_EQ(encoder.AddTask(missing), -1);
  EXPECT_EQ(encoder.LastErrMsg, missing + ": No such file or directory");
  EXPECT_EQ(encoder.TasksCount(), 0);
  EXPECT_EQ(encoder.AddTask(Input()), 0) << encoder.LastErrMsg;
  EXPECT_FALSE(encoder.AddInputFile(0, missing));
  EXPECT_EQ(encoder.LastErrMsg, missing + ": No such file or directory");
}

TEST_F(EncoderTest, ABadOptionRefusesTheTaskOrTheOutputWithTheParsersText) {
  TFFEncoder encoder;
  TInputOptions input;
  InitInputOptions(input);
  input.ExtOptions = "nosuchoption=1";
  EXPECT_EQ(encoder.AddTask(Input(), &input), -1);
  EXPECT_EQ(encoder.LastErrMsg, "Unrecognized option \"nosuchoption\"");
  EXPECT_EQ(encoder.TasksCount(), 0);

  const int task = encoder.AddTask(Input());
  ASSERT_EQ(task, 0) << encoder.LastErrMsg;
  TOutputOptions output;
  InitOutputOptions(output);
  output.ExtOptions = "padtop=8";
  EXPECT_FALSE(encoder.SetOutputFile(task, Folder + "/out.flv", &output));
  EXPECT_EQ(encoder.LastErrMsg, "Removed, use the pad filter instead");
  output.ExtOptions.clear();
  output.VideoCodec = "nosuchcodec";
  EXPECT_FALSE(encoder.SetOutputFile(task, Folder + "/out.flv", &output));
  EXPECT_NE(encoder.LastErrMsg.find("nosuchcodec"), std::string::npos) << encoder.LastErrMsg;
  // Nothing was left behind, and the task still takes a good output.
  EXPECT_FALSE(fs::exists(Folder + "/out.flv"));
  InitOutputOptions(output);
  EXPECT_TRUE(encoder.SetOutputFile(task, Folder + "/out.flv", &output)) << encoder.LastErrMsg;
}

TEST_F(EncoderTest, ATaskHoldsMaxFilesInputsAndOutputs) {
  TFFEncoder encoder;
  ASSERT_EQ(encoder.AddTask(Input()), 0) << encoder.LastErrMsg;
  for (int n = 1; n < 20; ++n)
    ASSERT_TRUE(encoder.AddInputFile(0, Input())) << n << ": " << encoder.LastErrMsg;
  EXPECT_FALSE(encoder.AddInputFile(0, Input()));
  EXPECT_EQ(encoder.LastErrMsg, "max input files 20 reached");

  for (int n = 0; n < 20; ++n)
    ASSERT_TRUE(encoder.SetOutputFile(0, Folder + "/out" + std::to_string(n) + ".flv"))
        << n << ": " << encoder.LastErrMsg;
  EXPECT_FALSE(encoder.SetOutputFile(0, Folder + "/one-more.flv"));
  EXPECT_EQ(encoder.LastErrMsg, "max output files 20 reached");

  TFFEncoder small;
  small.MaxFiles = 2;
  ASSERT_EQ(small.AddTask(Input()), 0);
  EXPECT_TRUE(small.AddInputFile(0, Input()));
  EXPECT_FALSE(small.AddInputFile(0, Input()));
  EXPECT_EQ(small.LastErrMsg, "max input files 2 reached");
}

TEST_F(EncoderTest, TasksAreNumberedInTheListAndRemovedByIndex) {
  TFFEncoder encoder;
  ASSERT_EQ(encoder.AddTask(Input()), 0);
  ASSERT_EQ(encoder.AddTask(Input()), 1);
  encoder.RemoveTask(0);
  EXPECT_EQ(encoder.TasksCount(), 1);
  EXPECT_EQ(encoder.AddTask(Input()), 1);
  EXPECT_THROW(encoder.RemoveTask(5), std::out_of_range);
  EXPECT_THROW(encoder.SetOutputFile(5, Folder + "/out.flv"), std::out_of_range);
}

TEST_F(EncoderTest, TheProbeEventRunsForEachInputWithTheTaskAsSender) {
  TFFEncoder encoder;
  std::vector<void*> senders;
  int streamsSeen = -1;
  encoder.OnBeforeFindStreamInfo = [&](void* sender, AVFormatContext* context) {
    EXPECT_TRUE(IsMainThread());
    senders.push_back(sender);
    streamsSeen = int(context->nb_streams);
  };
  ASSERT_EQ(encoder.AddTask(Input()), 0);
  ASSERT_TRUE(encoder.AddInputFile(0, Input()));
  ASSERT_EQ(senders.size(), 2u);
  EXPECT_NE(senders[0], &encoder);
  EXPECT_EQ(senders[0], senders[1]);
  EXPECT_GE(streamsSeen, 0);
}

TEST_F(EncoderTest, AnEncoderRunsOnceAndRefusesChangesWhileWorking) {
  TFFEncoder encoder;
  TNoticeRecorder notices(encoder);
  EXPECT_FALSE(encoder.Working());
  encoder.StartTask(1);
  EXPECT_TRUE(encoder.Working());
  EXPECT_EQ(ErrorOf([&] { encoder.AddTask(Input()); }), "Cannot AddTask while working.");
  EXPECT_EQ(ErrorOf([&] { encoder.AddInputFile(0, Input()); }),
            "Cannot AddInputFile while working.");
  EXPECT_EQ(ErrorOf([&] { encoder.SetOutputFile(0, Folder + "/out.flv"); }),
            "Cannot SetOutputFile while working.");
  EXPECT_EQ(ErrorOf([&] { encoder.RemoveTask(0); }), "Cannot RemoveTask while working.");
  EXPECT_EQ(ErrorOf([&] { encoder.StartTask(0); }), "Cannot StartTask while working.");
  // No task, no notice.
  CheckSynchronize(200);
  EXPECT_TRUE(notices.Empty());
  EXPECT_FALSE(encoder.AllEnded());
}

TEST_F(EncoderTest, PublishedPropertiesKeepTheirRules) {
  TFFEncoder encoder;
  EXPECT_EQ(encoder.ProgressInterval(), 500);
  encoder.SetProgressInterval(50);
  EXPECT_EQ(encoder.ProgressInterval(), 100);
  encoder.SetProgressInterval(101);
  EXPECT_EQ(encoder.ProgressInterval(), 101);
  encoder.SetProgressInterval(-5);
  EXPECT_EQ(encoder.ProgressInterval(), 100);
  EXPECT_FALSE(encoder.Preview());
  EXPECT_FALSE(encoder.PreviewBitmap());
  EXPECT_TRUE(encoder.TriggerEventInMainThread);
  EXPECT_EQ(encoder.ThreadPriority, tpNormal);
}

TEST_F(EncoderTest, TheLibrariesLoadFromAFolderOrNameWhatIsMissing) {
  TFFEncoder encoder;
  EXPECT_TRUE(encoder.AVLibLoaded());
  EXPECT_TRUE(encoder.LoadAVLib(FENNICK_LIBAV_DIR)) << encoder.LastErrMsg;
  FFLoader().Unload(AllLibraries);
  EXPECT_FALSE(encoder.AVLibLoaded());
  EXPECT_EQ(ErrorOf([&] { encoder.AddTask(Input()); }), "LibAVCodec not loaded.");
  FFLoader().SetLibraryFileName(libAVFormat, FENNICK_STUB_AVFORMAT);
  EXPECT_FALSE(encoder.LoadAVLib(FENNICK_LIBAV_DIR));
  EXPECT_NE(encoder.LastErrMsg, "");
  FFLoader().SetLibraryFileName(libAVFormat, "");
  EXPECT_TRUE(encoder.LoadAVLib(FENNICK_LIBAV_DIR)) << encoder.LastErrMsg;
}

}  // namespace
