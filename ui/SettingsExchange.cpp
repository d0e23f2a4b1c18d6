#include "ui/SettingsExchange.h"

#include <limits>

#include "ui/DialogTemplates.h"

namespace velmora::ui {

namespace {

bool IsBlank(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n';
}

}  // namespace

void ExchangeList(ISettingsControls& view, bool save, int id, std::string& member) {
    if (save) {
        member = view.ControlText(id);
        return;
    }
    const int count = view.ItemCount(id);
    for (int i = 0; i < count; ++i) {
        if (StartsWithNoCase(view.ItemText(id, i), member)) {
            view.SelectItem(id, i);
            return;
        }
    }
    if (MainDialogTemplate().Find(id)->kind == ControlKind::DropDownCombo) {
        view.SetControlText(id, member);
    }
}

bool ExchangeNumber(ISettingsControls& view, bool save, int id, std::int32_t& member) {
    if (!save) {
        view.SetControlText(id, std::to_string(member));
        return true;
    }
    const std::string text = view.ControlText(id);
    const std::optional<std::int32_t> value = ParseNumberField(text);
    if (!value) {
        view.ShowMessage({NumberPrompt(id, text), MessageCaption::Application, {}});
        view.FocusControl(id);
        return false;
    }
    member = *value;
    return true;
}

bool ExchangeSettings(ISettingsControls& view, bool save, DialogValues& values) {
    ExchangeList(view, save, IDC_BAUDRATE, values.strBaudRate);
    ExchangeList(view, save, IDC_DATABITS, values.strDataBits);
    ExchangeList(view, save, IDC_PARITY, values.strParity);
    ExchangeList(view, save, IDC_STOPBITS, values.strStopBits);
    ExchangeList(view, save, IDC_UPGRADETYPE, values.strUpgradeType);
    if (save) {
        values.strOffset = view.ControlText(IDC_OFFSET);
    } else {
        view.SetControlText(IDC_OFFSET, values.strOffset);
    }
    ExchangeList(view, save, IDC_MODELNO, values.strModelNo);
    ExchangeList(view, save, IDC_PROJECTNAME, values.strProjectName);
    return ExchangeNumber(view, save, IDC_MAXTV, values.nMaxTv) &&
           ExchangeNumber(view, save, IDC_MAXTP, values.nMaxTp) &&
           ExchangeNumber(view, save, IDC_MAXRADIO, values.nMaxRadio) &&
           ExchangeNumber(view, save, IDC_DBSIZE, values.lDbSize) &&
           ExchangeNumber(view, save, IDC_LNBCHIGH, values.nLnbCHigh) &&
           ExchangeNumber(view, save, IDC_LNBCLOW, values.nLnbCLow) &&
           ExchangeNumber(view, save, IDC_LNBKUHIGH, values.nLnbKuHigh) &&
           ExchangeNumber(view, save, IDC_LNBKULOW, values.nLnbKuLow) &&
           ExchangeNumber(view, save, IDC_MAXSAT, values.nMaxSat);
}

void EnableTypeFields(ISettingsControls& view, const std::string& typeText) {
    const bool enable = typeText != "Code";
    for (const int id : kTypeDependentFields) {
        view.EnableControl(id, enable);
    }
}

std::optional<std::int32_t> ParseNumberField(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    bool negative = false;
    if (begin < end && (text[begin] == '-' || text[begin] == '+')) {
        negative = text[begin] == '-';
        ++begin;
    }
    if (begin == end) {
        return std::nullopt;
    }
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t value = 0;
    for (std::size_t i = begin; i < end; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - '0');
        if (value > kLimit) {
            return std::nullopt;
        }
    }
    value = negative ? -value : value;
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

std::string NumberPrompt(int id, const std::string& text) {
    std::string name = std::to_string(id);
    if (const ControlTemplate* label = MainDialogTemplate().LabelOf(id)) {
        name = label->text.substr(0, label->text.size() - 1);  // without the colon
    }
    return name + " needs a whole number, but it holds \"" + text +
           "\". Enter a number from -2147483648 to 2147483647.";
}

}  // namespace velmora::ui
