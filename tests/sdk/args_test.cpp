// Command-line grammar: what each command accepts, and that every malformed or
// impossible value is a usage error before anything reaches a meter.
#include <gtest/gtest.h>

#include "args.h"

using namespace tessivar::cli;

namespace {

ParseResult parse(std::initializer_list<const char*> args)
{
    return parseArgs(std::vector<std::string>(args.begin(), args.end()));
}

Options parseOk(std::initializer_list<const char*> args)
{
    ParseResult r = parse(args);
    EXPECT_TRUE(r.ok) << r.error;
    return r.options;
}

}  // namespace

TEST(ArgsCommands, EachCommandWithItsIdAndOptions)
{
    EXPECT_EQ(parseOk({"scan"}).command, Command::Scan);

    Options info = parseOk({"info", "50331648"});
    EXPECT_EQ(info.command, Command::Info);
    EXPECT_EQ(info.meter, "50331648");

    Options read = parseOk({"read", "7", "--wavelength", "1310", "--average=16", "-n", "5"});
    EXPECT_EQ(read.command, Command::Read);
    EXPECT_EQ(read.meter, "7");
    EXPECT_EQ(read.wavelengthNm, 1310);
    EXPECT_EQ(read.average, 16);
    EXPECT_EQ(read.count, 5u);

    Options stream =
        parseOk({"stream", "7", "--duration", "2.5", "--format", "jsonl", "-o", "x.jsonl"});
    EXPECT_EQ(stream.command, Command::Stream);
    ASSERT_TRUE(stream.durationS.has_value());
    EXPECT_DOUBLE_EQ(*stream.durationS, 2.5);
    EXPECT_FALSE(stream.count.has_value());
    EXPECT_EQ(stream.format, OutputFormat::Jsonl);
    EXPECT_EQ(stream.outputPath, "x.jsonl");

    Options set = parseOk({"set", "7", "-w", "850"});
    EXPECT_EQ(set.command, Command::Set);
    EXPECT_EQ(set.wavelengthNm, 850);
    EXPECT_FALSE(set.average.has_value());

    EXPECT_EQ(parseOk({"zero", "0"}).command, Command::Zero);
}

TEST(ArgsCommands, DefaultsAndCommonOptionsAnywhere)
{
    Options read = parseOk({"read", "3"});
    EXPECT_EQ(read.count, 1u) << "read prints one reading by default";

    Options stream = parseOk({"stream", "3"});
    EXPECT_FALSE(stream.count.has_value()) << "an open-ended stream runs until Ctrl-C";
    EXPECT_FALSE(stream.durationS.has_value());
    EXPECT_EQ(stream.format, OutputFormat::Csv);
    EXPECT_TRUE(stream.outputPath.empty());
    EXPECT_TRUE(stream.logDir.empty()) << "no log unless asked";

    EXPECT_EQ(parseOk({"--log-dir", "/tmp/l", "scan"}).logDir, "/tmp/l");
    EXPECT_EQ(parseOk({"scan", "--log-dir=/tmp/m"}).logDir, "/tmp/m");
    EXPECT_EQ(parseOk({"info", "4", "-L", "logs"}).logDir, "logs");
    EXPECT_FALSE(parseOk({"scan"}).verbose);
    EXPECT_TRUE(parseOk({"-v", "scan"}).verbose);
    EXPECT_TRUE(parseOk({"stream", "1", "--verbose"}).verbose);
}

TEST(ArgsHelp, EveryCommandHasHelpReachableThreeWays)
{
    for (Command c : {Command::Scan, Command::Info, Command::Read, Command::Stream, Command::Set,
                      Command::Zero}) {
        const std::string name = commandName(c);
        for (const auto& args :
             {std::vector<std::string>{name, "--help"}, std::vector<std::string>{name, "-h"},
              std::vector<std::string>{"help", name}}) {
            ParseResult r = parseArgs(args);
            ASSERT_TRUE(r.ok) << name << ": " << r.error;
            EXPECT_EQ(r.options.command, Command::Help);
            EXPECT_EQ(r.options.helpTopic, c);
        }
        EXPECT_NE(helpText(c).find("Usage: tessivar " + name), std::string::npos) << name;
        EXPECT_NE(helpText(c), helpText(Command::Help)) << name;
    }
    // --help wins over otherwise incomplete arguments (missing id).
    EXPECT_EQ(parseOk({"info", "--help"}).helpTopic, Command::Info);
    EXPECT_EQ(parseOk({}).command, Command::Help);
    EXPECT_EQ(parseOk({"--help"}).helpTopic, Command::Help);
    EXPECT_EQ(parseOk({"--version"}).command, Command::Version);
}

TEST(ArgsErrors, MalformedValuesAreUsageErrors)
{
    struct Case {
        std::vector<std::string> args;
        const char* expectedText;
    };
    const Case cases[] = {
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"info", "-5"}, "invalid meter '-5'"},
        {{"info", "S110 260101"}, "invalid meter 'S110 260101'"},
        {{"info", ""}, "invalid meter ''"},
        {{"info", "1", "--format", "csv"}, "invalid format 'csv' (expected text or json)"},
        {{"scan", "--format", "jsonl"}, "invalid format 'jsonl' (expected text or json)"},
        {{"read", "1", "--force"}, "unknown option '--force' for 'read'"},
        {{"zero", "--force=yes"}, "takes no value"},
        {{"info", "1", "2"}, "unexpected argument '2'"},
        {{"scan", "1"}, "unexpected argument '1'"},
        {{"read", "1", "--count"}, "option '--count' needs a value"},
        {{"read", "1", "--count", "0"}, "invalid count '0'"},
        {{"read", "1", "--count", "-3"}, "invalid count '-3'"},
        {{"read", "1", "--count", "2.5"}, "invalid count '2.5'"},
        {{"read", "1", "--wavelength", "0"}, "invalid wavelength '0'"},
        {{"read", "1", "--wavelength", "70000"}, "invalid wavelength '70000'"},
        {{"read", "1", "--wavelength", "1310nm"}, "invalid wavelength '1310nm'"},
        {{"read", "1", "--average", "65536"}, "invalid averaging '65536'"},
        {{"stream", "1", "--duration", "0"}, "invalid duration '0'"},
        {{"stream", "1", "--duration", "inf"}, "invalid duration 'inf'"},
        {{"stream", "1", "--duration", "nan"}, "invalid duration 'nan'"},
        {{"stream", "1", "--format", "xml"}, "invalid format 'xml'"},
        {{"stream", "1", "--count", "3", "--duration", "1"}, "exclude each other"},
        {{"stream", "1", "--bogus"}, "unknown option '--bogus' for 'stream'"},
        {{"scan", "--count", "3"}, "unknown option '--count' for 'scan'"},
        {{"info", "1", "--output", "f"}, "unknown option '--output' for 'info'"},
        {{"set", "1"}, "needs --wavelength or --average"},
        {{"help", "frobnicate"}, "unknown command 'frobnicate'"},
        {{"scan", "--help=yes"}, "takes no value"},
    };
    for (const auto& c : cases) {
        ParseResult r = parseArgs(c.args);
        std::string joined;
        for (const auto& a : c.args)
            joined += a + " ";
        EXPECT_FALSE(r.ok) << joined;
        EXPECT_NE(r.error.find(c.expectedText), std::string::npos) << joined << "-> " << r.error;
    }
}

TEST(ArgsErrors, ErrorNamesTheCommandForItsHelpHint)
{
    ParseResult r = parse({"stream", "1", "--count", "0"});
    ASSERT_FALSE(r.ok);
    ASSERT_TRUE(r.command.has_value());
    EXPECT_EQ(*r.command, Command::Stream);
    EXPECT_FALSE(parse({"nosuch"}).command.has_value());
}

TEST(ArgsValues, LimitsOfTheMeterFieldsAreAccepted)
{
    Options o = parseOk({"read", "2147483647", "-w", "65535", "-a", "65535", "-n", "1"});
    EXPECT_EQ(o.meter, "2147483647");
    EXPECT_EQ(o.wavelengthNm, 65535);
    EXPECT_EQ(o.average, 65535);
    EXPECT_EQ(parseOk({"read", "0", "-w", "1", "-a", "1"}).wavelengthNm, 1);
    // A value that looks like an option is still taken as the value of the option before it.
    ParseResult r = parse({"stream", "1", "-o", "-"});
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.options.outputPath, "-");
}

TEST(ArgsMeters, TheMeterIsAnIdASerialOrAPortAndMayBeLeftOut)
{
    EXPECT_EQ(parseOk({"info"}).meter, "") << "the only attached meter, found at run time";
    EXPECT_EQ(parseOk({"read", "-n", "3"}).meter, "");
    EXPECT_EQ(parseOk({"info", "S110260101"}).meter, "S110260101");
    EXPECT_EQ(parseOk({"stream", "1-1.2", "-n", "3"}).meter, "1-1.2");
    EXPECT_EQ(parseOk({"zero", "16777216", "--force"}).force, true);
    EXPECT_EQ(parseOk({"zero"}).force, false);
}

TEST(ArgsMeters, FormatsPerCommand)
{
    EXPECT_EQ(parseOk({"scan", "--format", "json"}).format, OutputFormat::Json);
    EXPECT_EQ(parseOk({"scan"}).format, OutputFormat::Text);
    EXPECT_EQ(parseOk({"info", "-f", "json"}).format, OutputFormat::Json);
    EXPECT_EQ(parseOk({"read", "--format=json"}).format, OutputFormat::Json);
    EXPECT_EQ(parseOk({"stream"}).format, OutputFormat::Csv);
    EXPECT_EQ(parseOk({"stream", "-f", "jsonl"}).format, OutputFormat::Jsonl);
}
