#include "sdx/ConversionChain.h"

namespace velmora {

// Interim: the reader, builder, writer and packer step are not in this build yet.
ChainResult RunConversionChain(JobSettings& /*settings*/, IProgressBar& /*analyse*/,
                               IMessageBox& /*messages*/, std::stop_token /*stop*/) {
    return {ChainStatus::Failed,
            "Channel lists cannot be converted by this build yet. Choose a program or "
            "database image instead."};
}

}  // namespace velmora
