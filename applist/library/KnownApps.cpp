#include "KnownApps.h"

#include <iterator>

namespace {
struct Row {
    const wchar_t* executable;
    const wchar_t* friendlyName;
    const wchar_t* supportedTypes;
    const wchar_t* defaultType;
};

// Kept exactly as listed, odd blanks and defaults outside the supported list included: the
// texts are stored and compared as they are.
const Row kGeneralSet[] = {
    {L"PrestoPM.EXE", L"PageManager", L"RTF,TXT,JPG,TIF,PCX,PNG,BMP,PDF", L"RTF"},  // 0
    {L"prestopm_kv.EXE", L"Page Manager", L"RTF,TXT,JPG,TIF,PCX,PNG,BMP,PDF", L"RTF"},  // 1
    {L"pixedit.EXE", L"Kel Photo Edit", L"JPG,TIF,PCX,PNG,BMP", L"JPG"},  // 2
    {L"pixhub.EXE", L"KelPhotoPro", L"JPG,BMP,TIF,PNG", L"JPG"},  // 3
    {L"picxfer.EXE", L"KVRPhotoCenter", L"JPG,BMP,TIF,PNG", L"JPG"},  // 4
    {L"Illustrator.EXE", L"Illustrator", L"BMP,JPG,PCX,PNG,TIF,PDF", L"JPG"},  // 5
    {L"Photoshp.EXE", L"Photoshop", L"BMP,JPG,PCX,PDF,PNG,TIF", L"JPG"},  // 6
    {L"AcroRd32.EXE", L"Acrobat Reader", L"PDF", L"PDF"},  // 7
    {L"Coreldrw.EXE", L"Corel Draw", L"JPG,BMP,TIF,PCX,PNG", L"JPG"},  // 8
    {L"IEXPLORE.EXE", L"Internet Expl.", L"JPG", L"JPG"},  // 9
    {L"KODAKIMG.EXE", L"Kodak Imaging", L"JPG,BMP,PCX", L"JPG"},  // 10
    {L"docrelay.EXE", L"KVR Doc Distr.", L"JPG,PDF,TIF", L"JPG"},  // 11
    {L"excel.exe", L"MS Excel", L"XLS,TXT,XLSX", L"XLS"},  // 12
    {L"MSPAINT.EXE", L"MS Paint", L"BMP,TIF,JPG", L"BMP"},  // 13
    {L"Photodrw.EXE", L"MS Photo Draw", L"BMP,TIF,JPG", L"JPG"},  // 14
    {L"POWERPNT.EXE", L"MS PowerPoint", L"JPG,PPT,PPTX", L"JPG"},  // 15
    {L"WINWORD.EXE", L"MS Word", L"RTF,TXT,JPG,BMP,DOC,DOCX", L"RTF"},  // 16
    {L"netscape.EXE", L"Netscape Navi.", L"JPG,PNG", L"JPG"},  // 17
    {L"netscp6.EXE", L"Netscape Navi.", L"JPG,PNG", L"JPG"},  // 18
    {L"Netscp.EXE", L"Netscape Navi.", L"JPG,PNG", L"JPG"},  // 19
    {L"Navigator.EXE", L"Netscape Navi.", L"JPG,PNG", L"JPG"},  // 20
    {L"wkswp.EXE", L"MS Works", L"RTF,TXT", L"RTF"},  // 21
    {L"NOTEPAD.EXE", L"Notepad", L"TXT", L"TXT"},  // 22
    {L"psp.EXE", L"Paintshop Pro", L"BMP,TIF,JPG,PCX,PNG", L"JPG"},  // 23
    {L"paintshoppro.EXE", L"PaintshopPro", L"BMP,TIF,JPG,PCX,PNG", L"JPG"},  // 24
    {L"WORDPAD.EXE", L"Wordpad", L"RTF,TXT", L"RTF"},  // 25
    {L"mlaunch.EXE", L"e-Typist", L"TIF,BMP", L"BMP"},  // 26
    {L"pd4.EXE", L"PhotoDelux", L"BMP,JPG,PNG,TIF", L"JPG"},  // 27
    {L"photopnt.EXE", L"Corel Pho Pnt", L"BMP,JPG,PCX,PNG,TGA,TIF,WMF", L"JPG"},  // 28
    {L"pip.EXE", L"MS Picture It", L"BMP,JPG,PCX,PNG,TGA,TIF,WMF", L"JPG"},  // 29
    {L"PhotoshopElements.EXE", L"Photoshop Elem", L"BMP,JPG,PCX,PNG,TGA,TIF", L"JPG"},  // 30
    {L"PhotoshopElementsEditor.EXE", L"PhotoshopElem", L"BMP,JPG,PCX,PNG,TGA,TIF", L"JPG"},  // 31
    {L"Photoshop.EXE", L"Photoshop", L"BMP,JPG,PCX,PDF,PNG,TIF", L"JPG"},  // 32
    {L"Acrobat.EXE", L"Adobe Acrobat", L"PDF", L"PDF"},  // 33
    {L"norvikix.EXE", L"Norvik Image Exp", L"JPG,TIF,PCX,PNG,BMP,CMP", L"JPG"},  // 34
    {L"HWP.EXE", L"Hangle", L"RTF", L"RTF"},  // 35
};

// The set of the "nr" and "nv" prefixes.
const Row kAlternateSet[] = {
    {L"WindowsPhotoGallery.exe", L"MS Photo Gallery", L"JPG, BMP, JFIF, TIFF, PNG", L"JPG"},  // 36
    {L"Photoshop Album Starter Edition.exe", L"P.Shop Album SE", L"BMP, JPG, TIFF", L"JPG"},  // 37
    {L"MSPAINT.EXE", L"MS Paint", L"BMP,TIF,JPG", L"JPG"},  // 38
    {L"photoed.exe", L"MS Photo Ed", L"JPG,TIF,PCX,PNG,BMP", L"JPG"},  // 39
    {L"Photoshp.exe", L"Photoshop", L"BMP,JPG,PCX,PDF,PNG,TIF", L"JPG"},  // 40
    {L"Photodrw.exe", L"MS Photo Draw", L"BMP,TIF,JPG", L"JPG"},  // 41
    {L"WINWORD.EXE", L"MS Word", L"RTF,TXT,JPG,BMP,DOC,DOCX", L"RTF"},  // 42
    {L"POWERPNT.EXE", L"MS PowerPoint", L"JPG,PPT,PPTX", L"JPG"},  // 43
    {L"pip.exe", L"MS Picture It", L"BMP,JPG,PCX,PNG,TGA,TIF,WMF", L"JPG"},  // 44
    {L"PhotoshopElements.exe", L"Photoshop Elem", L"BMP,JPG,PCX,PNG,TGA,TIF", L"JPG"},  // 45
    {L"Coreldrw.exe", L"Corel Draw", L"JPG,BMP,TIF,PCX,PNG", L"JPG"},  // 46
    {L"KODAKIMG.EXE", L"Kodak Imaging", L"JPG,BMP,PCX", L"JPG"},  // 47
    {L"wkswp.exe", L"MS Works", L"RTF,TXT", L"RTF"},  // 48
    {L"WORDPAD.EXE", L"Wordpad", L"RTF,TXT", L"RTF"},  // 49
    {L"pd4.exe", L"PhotoDelux", L"BMP,JPG,PNG,TIF", L"JPG"},  // 50
    {L"photopnt.exe", L"Corel Pho Pnt", L"BMP,JPG,PCX,PNG,TGA,TIF,WMF", L"JPG"},  // 51
    {L"Photoshop.exe", L"Photoshop", L"BMP,JPG,PCX,PDF,PNG,TIF", L"JPG"},  // 52
    {L"norvikix.exe", L"Norvik Image Exp", L"JPG,TIF,PCX,PNG,BMP", L"JPG"},  // 53
    {L"AcroRd32.EXE", L"Acrobat Reader", L"PDF", L"PDF"},  // 54
    {L"NOTEPAD.EXE", L"Notepad", L"TXT", L"TXT"},  // 55
    {L"Illustrator.exe", L"Illustrator", L"BMP,JPG,PCX,PNG,TIF,PDF", L"JPG"},  // 56
    {L"wpwin13.exe", L"WordPerfectX3", L"RTF,TXT,DOC,XLS", L"JPG"},  // 57
    {L"wpwin12.exe", L"WordPerfect12", L"JPG,TIF,GIF,BMP,PCX,PNG,RTF,TXT", L"JPG"},  // 58
    {L"wpwin11.exe", L"WordPerfect11", L"JPG,TIF,GIF,BMP,PCX,PNG,RTF,TXT", L"JPG"},  // 59
    {L"Prwin13.exe", L"PresentationX3", L"GIF,JPG,PPT,PCX,PNG,TIF,TGA,BMP,WMF", L"JPG"},  // 60
    {L"QPW.exe", L"QuattroProX3", L"XLS,TXT", L"JPG"},  // 61
    {L"IEXPLORE.EXE", L"Internet Expl.", L"JPG", L"JPG"},  // 62
    {L"excel.exe", L"MS Excel", L"XLS,TXT,XLSX", L"XLS"},  // 63
    {L"corel snapfire.exe", L"Snapfire", L"JPG,BMP,GIF,PNG,TGA,TIF,DCX,PCX,PDF,WMF", L"JPG"},  // 64
    {L"Photo Album 6.exe", L"CorelPA6", L"JPG,BMP,GIF,PNG,TGA,TIF", L"JPG"},  // 65
    {L"Paint Shop Pro X.exe", L"CorelPSProX", L"JPG,BMP,TIF,PNG,PCX", L"JPG"},  // 66
    {L"Paint Shop Pro Studio.exe", L"PSPS", L"JPG,BMP,TIF,PNG", L"JPG"},  // 67
    {L"Paint Shop Pro.exe", L"PSP8", L"JPG,BMP,TIF", L"JPG"},  // 68
    {L"psp.exe", L"Paintshop Pro", L"BMP,TIF,JPG,PCX,PNG", L"JPG"},  // 69
    {L"Paint Shop Pro 9.exe", L"PSP9", L"JPG,BMP,TIF", L"JPG"},  // 70
    {L"pspa.exe", L"PSPA", L"JPG,BMP,TIF,PNG", L"JPG"},  // 71
};
static_assert(std::size(kGeneralSet) == 36 && std::size(kAlternateSet) == 36, "two sets of 36 rows");

// Cuts from the character before `position`; nothing is left when it is the first character.
std::wstring cutBefore(const std::wstring& text, size_t position) {
    return position == 0 ? std::wstring() : text.substr(0, position - 1);
}
}  // namespace

namespace discovery {



std::wstring tablePrefix(const std::wstring& moduleFileName) {
    const size_t found = moduleFileName.find(L"appmgr.dll");
    if (found == std::wstring::npos) return std::wstring();
    const size_t start = found >= 4 ? found - 4 : 0;
    return moduleFileName.substr(start, found - start);
}

std::vector<KnownApp> knownAppSet(const std::wstring& prefix) {
    const bool alternate = prefix.size() >= 2 && asciiLower(prefix[0]) == L'n' &&
                           (asciiLower(prefix[1]) == L'r' || asciiLower(prefix[1]) == L'v');
    std::vector<KnownApp> table;
    for (const Row& row : alternate ? kAlternateSet : kGeneralSet) {
        table.push_back({row.executable, row.friendlyName, row.supportedTypes, row.defaultType});
    }
    return table;
}

void renameRows(std::vector<KnownApp>& table, const std::wstring& executable, const std::wstring& name) {
    for (KnownApp& row : table) {
        if (row.executable == executable) row.friendlyName = name;
    }
}

std::wstring fileNamePart(const std::wstring& path) {
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

int findKnownApp(const std::vector<KnownApp>& table, const std::wstring& path) {
    const std::wstring name = fileNamePart(path);
    for (size_t i = 0; i < table.size(); ++i) {
        if (equalIgnoringAsciiCase(name, table[i].executable)) return static_cast<int>(i);
    }
    return -1;
}

std::vector<std::wstring> reorderByTable(const std::vector<KnownApp>& table, const std::vector<std::wstring>& entries) {
    std::vector<std::wstring> lowered;
    lowered.reserve(entries.size());
    for (const std::wstring& entry : entries) lowered.push_back(asciiLowered(entry));
    std::vector<std::wstring> ordered;
    for (const KnownApp& row : table) {
        const std::wstring executable = asciiLowered(row.executable);
        for (size_t i = 0; i < entries.size(); ++i) {
            if (lowered[i].find(executable) != std::wstring::npos) {
                ordered.push_back(entries[i]);
                break;
            }
        }
    }
    return ordered;
}

std::wstring cleanCommand(const std::wstring& text, const CommandServices& services) {
    std::wstring path;
    path.reserve(text.size());
    for (wchar_t c : text) {
        if (c != L'"') path += c;
    }
    if (path.find(L'%') != std::wstring::npos && services.expand) path = services.expand(path);
    // What is left after a blank: an argument placeholder ("%1") or a switch ("-x", "/x").
    size_t found = path.find(L'%');
    if (found != std::wstring::npos) path = cutBefore(path, found);
    found = path.find(L'-');
    if (found != std::wstring::npos) path = cutBefore(path, found);
    found = path.find(L" /");
    if (found != std::wstring::npos) path.erase(found);
    std::wstring longPath;
    if (path.find(L'~', 1) != std::wstring::npos && services.longForm && services.longForm(path, longPath)) {
        path = longPath;
    }
    return path;
}

}  // namespace discovery
