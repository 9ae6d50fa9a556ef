#include "input/help_screens.h"

#include <cctype>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>


namespace quorvane::input {
namespace {

using Lines = std::vector<std::string_view>;

constexpr std::string_view kClosing = " und so veite, und so veite, ... ";
constexpr std::string_view kContinue = " <Hit Return to continue>";
constexpr std::string_view kRuler =
    " >12345678901234567890123456789012345678901234567890123456789012345678901234567890";
// Lines of the preview shown before "Need to see more?" is asked.
constexpr int kPreviewPage = 10;
// Longest preview line: the rest of a longer line is not shown.
constexpr std::size_t kPreviewWidth = 100;

// Example files. A line made only of dots stands for "and so on": it is shown
// on the screen but is not part of the file.

// Raw ring widths: decade lines (a8,i4,10i6) in hundredths of a millimetre
// ending with -9999, i.e. thousandths.
const Lines kRawRingWidths = {
    "HBM01A  1940   176   225   137   262    84    97   108   247    89   319",
    "HBM01A  1950   169    79   104   282   274    95   183   106   277    90",
    "HBM01A  1960   123   174    91   263    85   173    83   128   208   274",
    "HBM01A  1970   133   120   217   152   112   156   250   109    92    90",
    "HBM01A  1980   165   314   278   220   298   292   245   213   187   152",
    "HBM01A  1990   184   101   213   313   235   289   207    97   120   274",
    "HBM01A  2000   178    62   236 -9999",
    "HBM01B  1740   212   144   235   137   310   275    80    99   220   234",
    "HBM01B  1750   239   314   293    95   107   198   302    93    91   218",
    "HBM01B  1760   288   205   257   237    71   296   241   146   119   312",
    "HBM01B  1770    90   171   207   126   186   263   260   314   101   145",
    "HBM01B  1780   289   265   202   130   280   202   272   243   254   178",
    "HBM01B  1790   156 -9999",
};

// Chronologies: three heading lines per series, then decade lines of ten
// index/sample-count pairs (f4.3,i3) and the label in columns 81-88.
const Lines kChronology = {
    "tst1a.  1 Test Site One                   Quercus robur      QURO",
    "tst1a.  2 Example Forest        520M  4510 -00100      1950 2002",
    "tst1a.  3 A. Dendrochronologist",
    "tst1a.1950 356 10 439  51226  41253 171225 141340  4 688  7 678  71348 181274 18  raw",
    "tst1a.1960 681  4 492 111214 10 921 15 590 10 485 10 385  51111 131227 14 622  7  raw",
    "tst1a.1970 330 161382 14 429  8 421  9 373  5 689  8 795  9 361  41250 10 968 16  raw",
    "tst1a.19801202 18 700  51363  6 778  7 902 151323  5 309  4 474  41236 11 869 16  raw",
    "tst1a.19901133 11 470  6 820 14 945 12 770  71350 11 891 12 360  7 443 15 521 16  raw",
    "tst1a.20001120  6 520 10 895 149990  09990  09990  09990  09990  09990  09990  0  raw",
    "tst1a.  1 Test Site One                   Quercus robur      QURO",
    "tst1a.  2 Example Forest        520M  4510 -00100      1950 2002",
    "tst1a.  3 A. Dendrochronologist",
    "tst1a.19501120 101264  5 992  4 719 171004 141030  4 817  7 600  7 876 181206 18  std",
    "tst1a.1960 911  4 620 11 815 10 791 151003 101216 101257  51190 13 702 14 643  7  std",
    "tst1a.1970 749 16 818 141052  8 864  9 609  51391  81224  9 936  4 903 10 995 16  std",
    "tst1a.1980 675 18 676  5 692  6 813  71196 151251  5 848  4 615  41215 11 977 16  std",
    "tst1a.1990 980 111237  61064 14 730 121201  71095 111188 12 738  7 995 15 787 16  std",
    "tst1a.20001242  6 757 10 918 149990  09990  09990  09990  09990  09990  09990  0  std",
};

// Single column: name line, first-year line, one value per line.
const Lines kSingleColumn = {
    "abscdef", "1771", "0.1", "0.2", "0.3",
    "bbscdef", "1772", "0.2", "0.4",
    "cbscdef", "1773", "0.5", "0.7", "0.6", "0.9",
    "...", "..",
};

// Two column: a header of two 8-character names, then age and value
// separated by a tab.
const Lines kTwoColumn = {
    "Age      Ti1 (%)",
    "798.60\t0.81",
    "804.70\t0.10",
    "816.90\t0.19",
    "819.30\t0.55",
    "845.20\t0.59",
    "851.00\t0.21",
    "888.40\t0.60",
    "893.10\t0.81",
    ".....",
    "Age      Ti2 (%)",
    "798.60\t0.40",
    "804.70\t0.45",
    "816.90\t0.28",
    "819.30\t0.33",
    "845.20\t0.88",
    "851.00\t0.40",
    "888.40\t0.87",
    "893.10\t0.83",
    ".....",
};

// Multiple columns: two title lines, the header row, then the year and one
// cell per series, missing cells padded with the sentinel.
const Lines kMultipleColumns1 = {
    "Tree-ring indices of five sites",
    "Missing years are padded with *******",
    "YEAR    AB01    AB02    AB03    AB04    AB05  ...",
    "1944   0.836 *******   1.399   1.282   1.381",
    "1945   0.963 *******   1.184   0.983   0.833",
    "1946   0.923   0.717   0.902   1.391   1.368",
    "1947   1.102   0.999   0.871   0.671   0.818",
    "1948   1.226   1.294   0.889   1.229   1.220",
    "1949   1.156   1.131   1.208   0.891   1.164",
    "1950   0.825   0.989   1.216 *******   0.835",
    "1951   1.356   1.120   1.065   0.609   1.038",
    "1952   0.801   1.137   0.970   1.253   1.118",
    "1953   1.238   0.878   1.115   1.190   1.263",
    "1954   0.880   1.274   1.296   1.151   1.381",
    "1955   1.365   1.015   1.023   0.733 *******",
    "1956   1.350   0.982   1.153   1.176 *******",
    "1957   0.737   1.224   1.065   1.132 *******",
    ".....",
};

const Lines kMultipleColumns2 = {
    "Summer temperatures of four stations",
    "Missing years are padded with -9.9",
    "year  ZZ01  ZZ02  ZZ03  ZZ04",
    "1941  -9.9  24.4  20.9  23.0",
    "1942  -9.9   9.0  16.0  21.3",
    "1943  10.5  22.1  20.8   6.0",
    "1944  16.8  10.7   6.4   8.3",
    "1945  12.9   9.5   9.8   5.9",
    "1946  16.6  14.5  20.3  19.8",
    "1947  10.9  27.6   5.0  15.1",
    "1948  12.0  15.3  -9.9  25.8",
    "1949  14.3   5.9  20.3   7.4",
    "1950  18.6  13.5  19.5  29.0",
    "1951  25.5  15.5  25.3  21.1",
    "1952  14.2   8.6  19.9  19.1",
    "1953  28.9  29.2  20.2  13.8",
    ".....",
};

// Monthly climate: five title lines, then per grid cell a header line and one
// row per year of twelve monthly values (the index times 100).
const Lines kMonthly = {
    " Palmer Drought Severity Index (PDSI), monthly values",
    " 2.5 x 2.5 degree grid, western North America",
    " Example data for the input format help",
    " Each grid cell: one header line, then one row per year",
    " Row: year, then January to December",
    " Grid cell 589  lat 41.25 lon -123.75  PDSI x 100  (1x,i4,12f5.2)",
    " 1901   50  -89   17  317  192 -321  126  -95  314 -297 -190 -235",
    " 1902   77  130  -98   39  206 -246  237  -95 -337 -129   67  -64",
    " 1903 -164   48 -187 -277 -208  282  282  105 -221 -215 -349 -345",
    " 1904 -136 -130 -181 -180  -54  -29 -147  202  344  290 -141 -164",
    " Grid cell 590  lat 41.25 lon -121.25  PDSI x 100  (1x,i4,12f5.2)",
    " 1901 -121   42  -45 -328   19   74 -181 -201  -80 -284  -11  -42",
    " 1902  267  250 -347  260  344   -4 -283  -33   13  -37  142  -27",
    " 1903 -161  142  133 -170 -292  -88 -327   16   63 -332  212   78",
    " 1904   24   35  242 -341  113 -303 -165  288 -149 -229  -99  123",
    " ....",
};

// Row-wise: the same title lines, blocks of a header line and rows of a year
// and twelve values in (1x,i4,12f7.2).
const Lines kRowWise = {
    " Palmer Drought Severity Index (PDSI), monthly values",
    " 2.5 x 2.5 degree grid, western North America",
    " Example data for the input format help",
    " Each grid cell: one header line, then one row per year",
    " Row: year, then January to December",
    " Grid cell 589  lat 41.25 lon -123.75  PDSI  (1x,i4,12f7.2)",
    " 1901  -2.68   1.52   1.08  -0.17  -2.27   2.34   2.46   0.10   0.04  -2.11  -3.97  -1.03",
    " 1902   0.68  -3.45   2.35  -2.14  -2.14  -3.66   3.98   1.91   3.00   0.93  -3.73  -1.37",
    " 1903  -0.02  -3.07   3.62  -1.05  -2.76   2.54  -3.00   3.42  -0.37   0.42  -1.26  -0.12",
    " 1904  -2.50  -3.70   2.93  -2.12   2.24  -2.33   3.75   3.15   2.04   2.10   0.65   1.84",
    " title line with some silly text [column names, if any, are not read]",
    " 1901  -3.02  -0.19   2.62  -2.39   3.39   3.10  -0.72  -1.08  -0.39  -0.91   3.96  -0.91",
    " 1902  -3.79  -3.25   1.74   3.94  -0.03  -0.07   0.40   1.99  -2.22   0.87   0.45   0.98",
    " 1903  -2.55  -2.64  -1.21   3.42  -1.23   0.78  -1.55  -3.17  -3.47   2.51   2.22  -1.00",
    " 1904   1.47   1.41   3.19   3.67  -0.74   3.91   3.69   0.72   3.07  -0.07  -1.00  -2.02",
    " title line with some silly text [column names, if any, are not read]",
    " 1901   3.01  -2.70  -3.45   2.44   2.19  -0.13   2.70  -3.58  -1.94  -1.68  -0.64  -2.63",
};

const Lines* example_lines(int code, int which) {
  switch (code) {
    case 1: return &kRawRingWidths;
    case 2: return &kChronology;
    case 3: return &kSingleColumn;
    case 4: return &kTwoColumn;
    case 5: return which == 2 ? &kMultipleColumns2 : &kMultipleColumns1;
    case 6: return &kMonthly;
    case 7: return &kRowWise;
    default: return nullptr;
  }
}

bool only_dots(std::string_view line) {
  return line.find_first_not_of(". ") == std::string_view::npos &&
         line.find('.') != std::string_view::npos;
}

// A help line with its leading blank, appended rather than added to the
// text: GCC 12 at -O3 misreads " " + std::string as an overlapping copy.
std::string indented(std::string_view text) { return std::string(" ").append(text); }

// Writes the heading after an empty line and the explanation lines.
void heading(textio::Console& console, std::string_view title, const Lines& explanation) {
  console.blank_line();
  console.line(indented(title));
  for (std::string_view text : explanation) {
    if (text.empty()) {
      console.blank_line();
    } else {
      console.line(indented(text));
    }
  }
}

// Writes "Example:" (or its numbered form) after an empty line, the example
// lines, the closing line, and pauses with `pause_message`.
void example(textio::Console& console, std::string_view label, const Lines& lines,
             std::string_view pause_message) {
  console.blank_line();
  console.line(indented(label));
  for (std::string_view text : lines) console.line(indented(text));
  console.line(kClosing);
  console.pause(pause_message);
}

void example_screen(textio::Console& console, int code) {
  switch (code) {
    case 1:
      heading(console, "rrw - decade format", {});
      example(console, "Example:", kRawRingWidths, kContinue);
      break;
    case 2:
      heading(console, "chronology - index format", {});
      example(console, "Example:", kChronology, kContinue);
      break;
    case 3:
      heading(console, "Single Column", {});
      example(console, "Example:", kSingleColumn, kContinue);
      break;
    case 4:
      heading(console, "Two Column", {"Good for un-equal time step data"});
      example(console, "Example:", kTwoColumn, kContinue);
      break;
    case 5:
      heading(console, "Multiple Columns",
              {"This format requires you to enter the sentinel used ",
               "as a spacer to keep the rows correctly aligned by YEAR", "(e.g., *******)"});
      example(console, "Example 1:", kMultipleColumns1,
              " Input: 2 sentinel = *******  <Hit Return to continue>");
      example(console, "Example 2:", kMultipleColumns2,
              " Input: 2 sentinel = -9.9  <Hit Return to continue>");
      break;
    case 6:
      heading(console, "Monthly Climate Time Series Format [TSF]     ",
              {"", "This format requires you to enter:",
               "1. Number of lines to skip from the top to the first data header (e.g., 5)",
               "2. Number of variables/line (e.g., 12)",
               "3. A multiplier (if needed) to return the values to their proper units "
               "(e.g., 0.01)"});
      example(console, "Example:", kMonthly,
              " Input: lskip = 5, nvar = 12, mult = 0.01  <Hit Return to continue>");
      break;
    case 7:
      heading(console, "Fixed Format- row wise read     ",
              {"", "Reads row-wise column data in TSF format for the user ",
               "who wants to read in only a specific column from a file", "of many columns.", "",
               "The User must enter the number of lines to skip down from",
               "the top AND the number of rows per record.", "",
               "The program ASSUMES that there is one (1) header line between",
               "each data block.", "",
               "The user must enter a fortran read statement (in parentheses) ",
               "that will properly pick up the values in the desired column ",
               "e.g (1x,i4,7x,f7.2) to read the second column in the ", "example below", "",
               "The program will assign the number, in order of occurance, to ",
               "each record for an ID field (e.g., 1, 2, 3, ...."});
      example(console, "Example:", kRowWise,
              " Input: lskip = 5, number of rows = 4, rfmt= (1x,i4,7x,f7.2)  <Hit Return to "
              "continue>");
      break;
    default: break;
  }
}

void help_menu(textio::Console& console) {
  console.blank_line();
  console.line(" _____   Input Format Help Menu    _____");
  console.line(" Raw ring-widths (decade)             [1] ");
  console.line(" Chronologies (index)                 [2] ");
  console.line(" Single Column                        [3]");
  console.line(" Two Column                           [4]");
  console.line(" Multiple Columns                     [5]");
  console.line(" Monthly Climate                      [6]");
  console.line(" Other                                [7]");
  console.line(" Enter zero when finished             [0]");
  console.line(" Enter H for further help");
  console.line(" ________________________________________");
  console.prompt(" Enter a value between  [0-7]       : ");
}

// Shows the file ten lines at a time below a column ruler. The lines are
// taken from the file as they are shown, so that a look at the top of a
// long record does not read all of it.
void preview(textio::Console& console, const std::string& fname) {
  console.write("(/1x,' We will now show you the first 10 lines of file: ',a)", {fname});
  std::ifstream file(fname, std::ios::binary);
  if (!file) {
    console.line(" The file " + fname + " cannot be opened.");
    return;
  }
  console.line(kRuler);
  std::string line;
  int shown = 0;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    console.line(" >" + line.substr(0, kPreviewWidth));
    if (++shown % kPreviewPage == 0 &&
        !console.ask_logical(" Need to see more? [t]rue or [f]alse :")) {
      break;
    }
  }
}

}  // namespace

void dathlp(textio::Console& console, const std::string& fname) {
  console.blank_line();
  console.line(" Select a file type to see an example.");
  while (true) {
    help_menu(console);
    // The answer is read as (i1): its first character, a blank reading as 0.
    std::string answer = console.read_line();
    char first = answer.empty() ? ' ' : answer[0];
    if (first == ' ' || first == '0') return;
    if (!std::isdigit(static_cast<unsigned char>(first))) {
      preview(console, fname);
      continue;
    }
    int choice = first - '0';
    if (choice > 7) {
      console.blank_line();
      console.line(" You must enter a value between 0 and 7");
      console.blank_line();
      continue;
    }
    example_screen(console, choice);
  }
}

std::vector<std::string> help_example_file(int code, int which) {
  std::vector<std::string> file;
  const Lines* lines = example_lines(code, which);
  if (lines == nullptr) return file;
  for (std::string_view line : *lines)
    if (!only_dots(line)) file.emplace_back(line);
  return file;
}

}  // namespace quorvane::input
