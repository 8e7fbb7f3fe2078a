#include "market/data_layers.h"

#include <stdexcept>

TDataLayers DefaultDataLayers(const std::filesystem::path& sample, const std::filesystem::path& userFolder)
{
    if (userFolder.empty())
        throw std::runtime_error("利用者のデータを置くホームフォルダーがありません (HOME が設定されていません)。--data "
                                 "DIR を指定してください");
    return {sample, userFolder / "service"};
}

std::filesystem::path WritableLayer(const TDataLayers& layers)
{
    const std::filesystem::path& top = layers.back();
    std::filesystem::create_directories(top);
    if (std::filesystem::exists(top / "stocks.csv"))
        return top;
    for (auto layer = layers.rbegin(); layer != layers.rend(); ++layer)
        if (std::filesystem::exists(*layer / "stocks.csv"))
        {
            std::filesystem::copy_file(*layer / "stocks.csv", top / "stocks.csv");
            break;
        }
    return top;
}
