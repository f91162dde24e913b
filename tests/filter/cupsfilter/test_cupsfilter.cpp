// The CUPS filter chain without a scheduler: cupsfilter with the built PPD
// runs the real cups-filters programs (pdftopdf, gstoraster) and our
// filters, found through a private CUPS filter folder.
#include "FilterTestKit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace filtertest;

namespace {

// A CUPS server folder whose filter/ holds the system's filters and ours,
// and the cups-files.conf that points cupsfilter at it.
class PrivateServerBin {
public:
    PrivateServerBin()
    {
        mkdir(m_dir.Path("filter").c_str(), 0755);
        const std::string system = VANTORA_CUPS_SERVERBIN "/filter";
        if (DIR* folder = opendir(system.c_str())) {
            while (dirent* entry = readdir(folder)) {
                const std::string name = entry->d_name;
                if (name == "." || name == ".." || name.rfind("vantora_", 0) == 0)
                    continue;
                symlink((system + "/" + name).c_str(), m_dir.Path("filter/" + name).c_str());
            }
            closedir(folder);
        }
        symlink(FilterProgram().c_str(), m_dir.Path("filter/vantora_rt50_filter").c_str());
        symlink(VANTORA_PHOTO_PROGRAM, m_dir.Path("filter/vantora_rt50_photo").c_str());
        FILE* conf = std::fopen(Conf().c_str(), "w");
        if (conf != nullptr) {
            std::fprintf(conf, "ServerBin %s\nDataDir %s\nServerRoot /etc/cups\n", m_dir.Path().c_str(),
                         VANTORA_CUPS_DATADIR);
            std::fclose(conf);
        }
    }
    std::string Conf() const { return m_dir.Path("cups-files.conf"); }
    std::string Path(const std::string& name) const { return m_dir.Path(name); }

private:
    TempDir m_dir;
};

// A picture with no white in it: red, green and blue bands on a 6 x 4 inch
// landscape page, written by Ghostscript in `device` format.
bool MakeDocument(const std::string& path, const char* device)
{
    const std::string ps = path + ".ps";
    FILE* file = std::fopen(ps.c_str(), "w");
    if (file == nullptr)
        return false;
    std::fputs("%!PS\n<< /PageSize [432 288] >> setpagedevice\n"
               "1 0 0 setrgbcolor 0 0 144 288 rectfill\n"
               "0 0.6 0 setrgbcolor 144 0 144 288 rectfill\n"
               "0 0 1 setrgbcolor 288 0 144 288 rectfill\nshowpage\n",
               file);
    std::fclose(file);
    const std::string output = "-sOutputFile=" + path;
    const std::string dev = std::string("-sDEVICE=") + device;
    FilterRun run = RunProgram("/usr/bin/gs", {"-q", "-dSAFER", "-dNOPAUSE", "-dBATCH", dev, "-r100", output, ps}, "", "");
    unlink(ps.c_str());
    return run.exitStatus == 0;
}

struct ChainRun {
    FilterRun run;
    std::vector<StreamPacket> packets;
    std::vector<StreamSheet> sheets;
};

ChainRun PrintThroughCups(const std::string& document, const std::vector<std::string>& extraOptions = {})
{
    JobOneStartFile start;
    PrivateServerBin serverBin;
    std::vector<std::string> args = {"-c", serverBin.Conf(), "-p", BuiltPpd(), "-m", "printer/cupsfilter", "-e"};
    for (const std::string& option : extraOptions) {
        args.push_back("-o");
        args.push_back(option);
    }
    args.push_back(document);
    ChainRun chain;
    chain.run = RunProgram("/usr/sbin/cupsfilter", args, "", "");
    std::string error;
    EXPECT_TRUE(ParseCommandStream(chain.run.output, chain.packets, &error)) << error;
    EXPECT_TRUE(CollectSheets(chain.packets, chain.sheets, &error)) << error;
    return chain;
}

// Columns of the page area (71..1336) in which every dot of row y is white.
int WhiteColumns(const StreamSheet& sheet, int y)
{
    int white = 0;
    for (int x = 71; x <= 1336; ++x) {
        if (sheet.cyan.At(x, y) == 255 && sheet.magenta.At(x, y) == 255 && sheet.yellow.At(x, y) == 255)
            ++white;
    }
    return white;
}

class CupsFilterChain : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(CupsFilterChain, PngAndJpegFillTheWholePage)
{
    for (const char* device : {"png16m", "jpeg"}) {
        SCOPED_TRACE(device);
        const std::string document = dir.Path(std::string("photo.") + (device[0] == 'p' ? "png" : "jpg"));
        ASSERT_TRUE(MakeDocument(document, device));
        ChainRun chain = PrintThroughCups(document);
        EXPECT_EQ(chain.run.exitStatus, 0) << chain.run.errors;
        EXPECT_NE(chain.run.errors.find("vantora_rt50_photo"), std::string::npos);
        EXPECT_EQ(chain.run.errors.find("imagetoraster"), std::string::npos) << "photos are decoded in process";
        ASSERT_EQ(chain.sheets.size(), 1u);
        ASSERT_TRUE(chain.sheets[0].complete);
        EXPECT_EQ(chain.sheets[0].multicut, 48);
        if (!ImageLibraryPresent())
            continue;
        // Filled: at most a dot or two of the edge columns stays white.
        for (int y : {0, 400, 918, 1500, 1835})
            EXPECT_LE(WhiteColumns(chain.sheets[0], y), 4) << "row " << y;
    }
}

TEST_F(CupsFilterChain, ScalingChosenByTheJobIsKept)
{
    const std::string document = dir.Path("photo.png");
    ASSERT_TRUE(MakeDocument(document, "png16m"));
    ChainRun chain = PrintThroughCups(document, {"print-scaling=fit", "ZpxOvercoatFinish=Matte"});
    EXPECT_EQ(chain.run.exitStatus, 0) << chain.run.errors;
    ASSERT_EQ(chain.sheets.size(), 1u);
    bool matte = false;
    for (const StreamPacket& packet : chain.packets)
        matte = matte || (packet.param == "OVERCOAT" && packet.PayloadText() == "00000001");
    EXPECT_TRUE(matte);
    if (ImageLibraryPresent()) {
        // Fitted, not filled: the 3:2 picture, turned upright, is 1224 dots
        // wide on the 1266-dot page and leaves white columns beside it.
        EXPECT_GE(WhiteColumns(chain.sheets[0], 918), 30);
    }
}

TEST_F(CupsFilterChain, PdfGoesThroughGhostscript)
{
    const std::string document = dir.Path("page.pdf");
    ASSERT_TRUE(MakeDocument(document, "pdfwrite"));
    ChainRun chain = PrintThroughCups(document, {"media=115x153mm"});
    EXPECT_EQ(chain.run.exitStatus, 0) << chain.run.errors;
    EXPECT_NE(chain.run.errors.find("gstoraster"), std::string::npos);
    ASSERT_EQ(chain.sheets.size(), 1u);
    EXPECT_EQ(chain.sheets[0].multicut, 51);
    EXPECT_EQ(chain.sheets[0].yellow.height, 1836);
    if (ImageLibraryPresent()) {
        // Some of the picture arrives in the plane.
        EXPECT_LT(WhiteColumns(chain.sheets[0], 918), 1266);
    }
}

}  // namespace
