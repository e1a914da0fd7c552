#include "AppTestSupport.h"
#include "U_Config.h"
#include "U_FileOption.h"
#include "U_Formats.h"
#include "U_XML.h"
#include "VelLog.h"

#include <QDomDocument>
#include <gtest/gtest.h>

namespace {

std::vector<TOOXML> ReadProfiles(const QString& FileName, QString* Error = nullptr) {
  QDomDocument document;
  if (!OpenXmlFile(document, FileName, Error)) return {};
  return LoadFormatProfiles(document);
}

QString Item(const TFormatLists& Lists, const TFormatSelection& S, TFormatBox Box) {
  return S.Index[Box] < 0 ? QString() : Lists.Items[Box][S.Index[Box]];
}

constexpr QString TOOXML::*Fields[fbCount] = {
    &TOOXML::VideoEncoder, &TOOXML::FrameRate,  &TOOXML::VideoBitRate, &TOOXML::AudioEncoder,
    &TOOXML::Channel,      &TOOXML::SampleRate, &TOOXML::AudioBitRate, &TOOXML::Format};

TEST(FormatProfiles, TheShippedFileOffersFourProfilesCoveringEveryDefault) {
  const TFormatLists lists =
      FormatListsOf(ReadProfiles(QStringLiteral(FENNICK_BIN_DIR "/Format.dat")));
  ASSERT_EQ(lists.ProfileNames.size(), 5);
  EXPECT_EQ(lists.ProfileNames.last(), "Custom");
  for (const TFormatSelection& profile : lists.Profiles)
    for (int box = 0; box < fbCount; ++box) EXPECT_GE(profile.Index[box], 0) << box;

  // A new entry carries the defaults: the first profile is exactly those values.
  TScratchFolder folder;
  SetProgramFolder(folder.Path());
  TFileOption entry;
  InitFileOption(entry, QStringLiteral("320x240"));
  SetProgramFolder(QString());
  EXPECT_EQ(CustomSelection(lists, entry), lists.Profiles[0]);

  // The fourth is the H.264 one with AAC; every item reads into a value the engine knows.
  EXPECT_TRUE(IsH264Selection(lists, lists.Profiles[3]));
  EXPECT_EQ(Item(lists, lists.Profiles[3], fbAudioEncoder), "AAC Audio");
  QStringList codecs;
  for (const QString& item : lists.Items[fbVideoEncoder]) codecs << VideoCodecOfItem(item);
  EXPECT_EQ(codecs, QStringList({"flv", "libx264"}));
  EXPECT_EQ(FirstWord(lists.Items[fbFrameRate][0]), QString());
  for (const QString& item : lists.Items[fbSampleRate])
    EXPECT_TRUE(QList<int>({11025, 22050, 44100}).contains(NumberOfItem(item)))
        << item.toStdString();
  EXPECT_EQ(lists.Items[fbFormat], QStringList({"flv", "swf"}));
  EXPECT_TRUE(lists.Items[fbChannel].contains("Stereo"));
}

TEST(FormatProfiles, ReadsEachFileAsWrittenAndReportsWhatCannotBeRead) {
  TScratchFolder folder;
  VelLog = TVelLog(folder.File("log.txt"));
  const QByteArray lists =
      "<P id=\"0\"><Video><Encoder>FLV Video,H.264 Video</Encoder><FrameRate>original,25 fps"
      "</FrameRate><BitRate>256 kbps,512 kbps</BitRate><Format>flv,swf</Format></Video>"
      "<Audio><Encoder>MP3 Audio,AAC Audio</Encoder><Channel>Mono,Stereo</Channel>"
      "<SmapleRate>22050 Hz,44100 Hz</SmapleRate><SampleRate>8000 Hz</SampleRate>"
      "<BitRate>64 kbps,96 kbps</BitRate></Audio></P>";
  const auto profile = [](const char* Name) {
    return QByteArray("<P><Name>") + Name +
           "</Name><Video><Encoder>1</Encoder><FrameRate>0</FrameRate><BitRate>1</BitRate>"
           "<Format>0</Format></Video><Audio><Encoder>0</Encoder><Channel>1</Channel>"
           "<SmapleRate>1</SmapleRate><BitRate>0</BitRate></Audio></P>";
  };
  const struct {
    const char* Name;
    QByteArray Content;
    bool Opens;
    QStringList Names;
    QString SampleRates;  // record 0's, as read
  } cases[] = {
      {"five children",
       "<R>" + lists + profile("A") + profile("B") + profile("C") + profile("D") + "</R>",
       true,
       {"A", "B", "C", "D", "Custom"},
       "22050 Hz,44100 Hz"},
      {"six children keep four profiles",
       "<R>" + lists + profile("A") + profile("B") + profile("C") + profile("D") + profile("E") +
           "</R>",
       true,
       {"A", "B", "C", "D", "Custom"},
       "22050 Hz,44100 Hz"},
      {"no Video or Audio children",
       "<R><P id=\"0\"><Name>L</Name></P><P><Name>X</Name></P></R>",
       true,
       {"Custom"},
       ""},
      {"no children", "<R/>", true, {}, ""},
      {"malformed", "<R><P id=\"0\"><Name>L</Name></R>", false, {}, ""},
      {"empty", "", false, {}, ""},
  };
  for (const auto& c : cases) {
    const QString file = folder.File(QStringLiteral("Format.dat"));
    WriteTextFile(file, c.Content);
    QString error;
    const std::vector<TOOXML> records = ReadProfiles(file, &error);
    EXPECT_EQ(error.isEmpty(), c.Opens) << c.Name << ": " << error.toStdString();
    EXPECT_EQ(FormatListsOf(records).ProfileNames, c.Names) << c.Name;
    EXPECT_EQ(records.empty() ? QString() : records[0].SampleRate, c.SampleRates) << c.Name;
  }
  QString error;
  EXPECT_TRUE(ReadProfiles(folder.File("missing.dat"), &error).empty());
  EXPECT_TRUE(error.startsWith(folder.File("missing.dat"))) << error.toStdString();
  const QStringList log = ReadLines(folder.File("log.txt"));
  ASSERT_EQ(log.size(), 4);
  EXPECT_TRUE(log[0].contains("\"X\" is left out")) << qPrintable(log[0]);
  for (const QString& line : log.mid(1)) EXPECT_TRUE(line.endsWith("  Load [Format.dat] failed."));
  VelLog = TVelLog();
}

// A profile the program cannot use (a part or an index missing, an index past its list) is
// left out, with a line in the log; the others keep their places in the file as their ids.
TEST(FormatProfiles, UnknownProfilesFallToCustomAndUnusableProfilesAreLeftOut) {
  TScratchFolder folder;
  VelLog = TVelLog(folder.File("log.txt"));
  std::vector<TOOXML> records(5);
  for (int box = 0; box < fbCount; ++box) records[0].*Fields[box] = "one,two";
  for (size_t k = 1; k < records.size(); ++k) {
    records[k].Name = QStringLiteral("P%1").arg(k);
    for (int box = 0; box < fbCount; ++box) records[k].*Fields[box] = " 1";
  }
  records[1].VideoEncoder = "0";
  records[2].Channel = "two";
  records[3].VideoBitRate = "99";
  records[4].AudioEncoder.clear();
  const TFormatLists lists = FormatListsOf(records);
  VelLog = TVelLog();
  EXPECT_EQ(lists.ProfileNames, QStringList({"P1", "Custom"}));
  ASSERT_EQ(lists.CustomIndex(), 1);
  EXPECT_EQ(lists.Profiles[0].Index[fbVideoEncoder], 0);
  EXPECT_EQ(lists.Profiles[0].Index[fbChannel], 1);
  const QStringList log = ReadLines(folder.File("log.txt"));
  ASSERT_EQ(log.size(), 3);
  EXPECT_TRUE(
      log[0].endsWith("Format.dat: the profile \"P2\" is left out: its Audio/Channel "
                      "\"two\" names none of the items"))
      << qPrintable(log[0]);
  EXPECT_TRUE(log[1].contains("\"P3\" is left out: its Video/BitRate \"99\""))
      << qPrintable(log[1]);
  EXPECT_TRUE(log[2].contains("\"P4\" is left out: its Audio/Encoder \"\"")) << qPrintable(log[2]);

  std::vector<TOOXML> fourth = records;
  fourth[1].VideoEncoder.clear();
  fourth[4].AudioEncoder = "0";
  const TFormatLists later = FormatListsOf(fourth);
  EXPECT_EQ(later.ProfileNames, QStringList({"P4", "Custom"}));
  EXPECT_EQ(ProfileIndexOf(4, later), 0);
  EXPECT_EQ(FormatIdOf(0, later), 4);
  EXPECT_EQ(ProfileIndexOf(1, later), 1);

  std::vector<TOOXML> first = records;
  first[2].Channel = "0";
  first.resize(3);
  const TFormatLists two = FormatListsOf(first);
  ASSERT_EQ(two.CustomIndex(), 2);
  const struct {
    int Formatid, Index, WrittenBack;
  } cases[] = {{1, 0, 1}, {2, 1, 2}, {3, 2, 5},  {4, 2, 5},
               {5, 2, 5}, {0, 2, 5}, {-3, 2, 5}, {99, 2, 5}};
  for (const auto& c : cases) {
    EXPECT_EQ(ProfileIndexOf(c.Formatid, two), c.Index) << c.Formatid;
    EXPECT_EQ(FormatIdOf(c.Index, two), c.WrittenBack) << c.Formatid;
  }
}

}  // namespace
