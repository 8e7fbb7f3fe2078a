#include "app/startup/startup_settings.h"
#include "common/service_contract.h"

#include "../startup_test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

TEST(ChooseServiceAddress, OptionThenVariableThenTheDefault)
{
    const std::optional<QString> none;
    const std::optional<QString> option = QStringLiteral("http://10.0.0.2:8080");

    const TServiceAddress fallback = ChooseServiceAddress(none, nullptr, DefaultServicePort);
    EXPECT_EQ(fallback.Url, LoopbackServiceUrl(DefaultServicePort));
    EXPECT_FALSE(fallback.Explicit);
    EXPECT_FALSE(ChooseServiceAddress(none, "", DefaultServicePort).Explicit) << "an empty variable counts as unset";

    const TServiceAddress fromVariable = ChooseServiceAddress(none, "http://10.0.0.3", DefaultServicePort);
    EXPECT_EQ(fromVariable.Url, "http://10.0.0.3");
    EXPECT_TRUE(fromVariable.Explicit);

    const TServiceAddress fromOption = ChooseServiceAddress(option, "http://10.0.0.3", DefaultServicePort);
    EXPECT_EQ(fromOption.Url, "http://10.0.0.2:8080");
    EXPECT_TRUE(fromOption.Explicit);

    // The default address given by hand is still the user's: never started or stopped for them.
    EXPECT_TRUE(ChooseServiceAddress(QString::fromStdString(LoopbackServiceUrl(DefaultServicePort)), nullptr,
                                     DefaultServicePort)
                    .Explicit);
}

TEST(ChooseServiceAddress, AMalformedAddressStopsTheStartNamingItsSource)
{
    try
    {
        ChooseServiceAddress(QStringLiteral("https://10.0.0.2"), "http://10.0.0.3", DefaultServicePort);
        FAIL() << "accepted";
    }
    catch (const TStartupError& error)
    {
        EXPECT_TRUE(error.Text().contains(QStringLiteral("https://10.0.0.2"))) << error.what();
        EXPECT_TRUE(error.Text().contains(QStringLiteral("--service"))) << error.what();
    }
    // With an option the variable is not read, so a bad one does not matter.
    EXPECT_NO_THROW(ChooseServiceAddress(QStringLiteral("http://10.0.0.2"), "10.0.0.3", DefaultServicePort));
    try
    {
        ChooseServiceAddress(std::nullopt, "10.0.0.3:80", DefaultServicePort);
        FAIL() << "accepted";
    }
    catch (const TStartupError& error)
    {
        EXPECT_TRUE(error.Text().contains(QStringLiteral("ORVANTA_SERVICE_URL"))) << error.what();
    }
}

class WorkFolder : public TTempFolderTest
{};

TEST_F(WorkFolder, AFolderWithTheProgramsFilesIsUsedAsItIs)
{
    const std::filesystem::path perUser = Root / "xdg" / "orvanta";
    const std::filesystem::path withDat = Root / "with_dat";
    const std::filesystem::path withList = Root / "with_list";
    const std::filesystem::path plain = Root / "plain";
    std::filesystem::create_directories(withDat / "dat");
    std::filesystem::create_directories(withList);
    WriteText(withList / "KabuList.dat", "; list\r\n");
    std::filesystem::create_directories(plain);

    struct Row
    {
        const char* name;
        std::optional<QString> option;
        std::filesystem::path start;
        std::filesystem::path folder;
        bool prepare;
    };
    const Row rows[] = {
        {"start folder with dat/", std::nullopt, withDat, withDat, false},
        // A list without dat/ gets the folder the pages go to; the list is never replaced.
        {"start folder with KabuList.dat", std::nullopt, withList, withList, true},
        {"start folder with neither", std::nullopt, plain, perUser, true},
        {"--workdir relative to the start folder", QStringLiteral("../with_list"), plain, withList, true},
        {"--workdir with dat/", QStringLiteral("../with_dat"), plain, withDat, false},
        {"--workdir beats the start folder", QString::fromStdString(plain.string()), withDat, plain, true},
        {"--workdir not there yet", QStringLiteral("new/work"), plain, plain / "new" / "work", true},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        const TWorkFolder work = ChooseWorkFolder(row.option, row.start, perUser);
        EXPECT_EQ(work.Folder, row.folder);
        EXPECT_EQ(work.Prepare, row.prepare);
    }
    EXPECT_FALSE(std::filesystem::exists(perUser)) << "choosing creates nothing";

    EXPECT_THROW(ChooseWorkFolder(std::nullopt, plain, {}), TStartupError);
    EXPECT_EQ(ChooseWorkFolder(std::nullopt, withDat, {}).Folder, withDat) << "no home needed then";
}

TEST_F(WorkFolder, AFolderSomeoneElseCanWriteIsNeitherAdoptedNorTaken)
{
    const std::filesystem::path perUser = Root / "xdg" / "orvanta";
    using std::filesystem::perms;
    struct Row
    {
        const char* name;
        perms folderAdds;
        perms datAdds;
        uid_t folderOwner; // -1: ours
        uid_t datOwner;
        gid_t folderGroup; // -1: as made, the user's private group
        bool datIsLink;
        bool adopted;
    };
    constexpr uid_t Ours = static_cast<uid_t>(-1);
    constexpr uid_t Nobody = 65534;
    constexpr gid_t Shared = 100; // "users" on Debian
    const Row rows[] = {
        {"ours alone", perms::none, perms::none, Ours, Ours, Ours, false, true},
        {"group may write, the user's private group", perms::group_write, perms::none, Ours, Ours, Ours, false, true},
        {"group may write, a shared group", perms::group_write, perms::none, Ours, Ours, Shared, false, false},
        {"others may write", perms::others_write, perms::none, Ours, Ours, Ours, false, false},
        {"sticky and shared, as /tmp", perms::all | perms::sticky_bit, perms::none, Ours, Ours, Ours, false, false},
        {"dat/ others may write", perms::none, perms::others_write, Ours, Ours, Ours, false, false},
        {"dat/ a link to a folder", perms::none, perms::none, Ours, Ours, Ours, true, false},
        {"another user's folder", perms::none, perms::none, Nobody, Ours, Ours, false, false},
        {"another user's dat/", perms::none, perms::none, Ours, Nobody, Ours, false, false},
    };
    int index = 0;
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        if ((row.folderOwner != Ours || row.datOwner != Ours || row.folderGroup != Ours) && ::geteuid() != 0)
            continue; // giving a folder away needs root
        const std::filesystem::path folder = Root / ("start" + std::to_string(index++));
        std::filesystem::create_directories(folder);
        if (row.datIsLink)
        {
            std::filesystem::create_directories(Root / "elsewhere");
            std::filesystem::create_directory_symlink(Root / "elsewhere", folder / "dat");
        }
        else
            std::filesystem::create_directories(folder / "dat");
        std::filesystem::permissions(folder, perms::owner_all | perms::group_read | perms::group_exec | row.folderAdds);
        if (!row.datIsLink)
            std::filesystem::permissions(folder / "dat", perms::owner_all | row.datAdds);
        if (row.folderOwner != Ours || row.folderGroup != Ours)
        {
            ASSERT_EQ(::chown(folder.c_str(), row.folderOwner, row.folderGroup), 0);
        }
        if (row.datOwner != Ours)
        {
            ASSERT_EQ(::chown((folder / "dat").c_str(), row.datOwner, row.datOwner), 0);
        }

        const TWorkFolder work = ChooseWorkFolder(std::nullopt, folder, perUser);
        EXPECT_EQ(work.Folder, row.adopted ? folder : perUser);
        EXPECT_EQ(work.Passed.isEmpty(), row.adopted) << work.Passed.toStdString();
        if (row.adopted)
        {
            EXPECT_NO_THROW(ChooseWorkFolder(QString::fromStdString(folder.string()), Root, perUser));
        }
        else
        {
            EXPECT_TRUE(work.Passed.contains(QString::fromStdString(perUser.string()))) << "says where it went";
            EXPECT_THROW(ChooseWorkFolder(QString::fromStdString(folder.string()), Root, perUser), TStartupError);
        }
    }
}

TEST_F(WorkFolder, PreparingAddsWhatIsMissingAndReplacesNothing)
{
    const std::filesystem::path sample = Root / "sample" / "KabuList.dat";
    std::filesystem::create_directories(sample.parent_path());
    WriteText(sample, "; sample list\r\n");

    const std::filesystem::path fresh = Root / "xdg" / "orvanta";
    ASSERT_TRUE(PrepareWorkFolder(fresh, sample));
    EXPECT_TRUE(std::filesystem::is_directory(fresh / "dat"));
    EXPECT_EQ(ReadText(fresh / "KabuList.dat"), "; sample list\r\n");

    // The user's own list and cache stay as they are on the next start.
    WriteText(fresh / "KabuList.dat", "; my list\r\n");
    WriteText(fresh / "dat" / "k7203.t.00", "page");
    ASSERT_TRUE(PrepareWorkFolder(fresh, sample));
    EXPECT_EQ(ReadText(fresh / "KabuList.dat"), "; my list\r\n");
    EXPECT_EQ(ReadText(fresh / "dat" / "k7203.t.00"), "page");

    // Without a sample the folder still gets its dat/; the missing list is reported.
    const std::filesystem::path other = Root / "other";
    EXPECT_FALSE(PrepareWorkFolder(other, Root / "nowhere" / "KabuList.dat"));
    EXPECT_TRUE(std::filesystem::is_directory(other / "dat"));
    EXPECT_FALSE(std::filesystem::exists(other / "KabuList.dat"));

    // A file where the folder should be cannot be made into one.
    WriteText(Root / "blocked", "");
    EXPECT_THROW(PrepareWorkFolder(Root / "blocked", sample), TStartupError);
}

TEST_F(WorkFolder, ANewFolderStartsWithTheListOfTheUsersImport)
{
    const std::filesystem::path perUser = Root / "xdg" / "orvanta";
    const std::filesystem::path sample = Root / "sample";
    EXPECT_EQ(StarterListFile(perUser, sample), sample / "KabuList.dat");
    std::filesystem::create_directories(perUser / "service");
    WriteText(perUser / "service" / "KabuList.dat", "; imported\r\n");
    EXPECT_EQ(StarterListFile(perUser, sample), perUser / "service" / "KabuList.dat");
}

} // namespace
