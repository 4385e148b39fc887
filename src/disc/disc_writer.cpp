#include "disc/disc_writer.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "core/support.h"
#include "disc/disc_walk.h"

namespace morvane {

namespace {

using namespace disc;

constexpr std::size_t kEntrySize = kEntryCopiesOffset + 4;  // one copy

struct Folder {
  std::vector<std::string> order;           // names in the order given
  std::map<std::string, bool> isFolder;     // name -> a folder
  std::map<std::string, std::size_t> file;  // name -> index into the files
  std::int64_t firstBlock = 0, blocks = 1;
};

void Put32(std::vector<unsigned char>& image, std::size_t at, std::uint32_t value) {
  WriteBigEndian32(image.data() + at, value);
}

std::int64_t BlocksFor(std::size_t bytes) {
  return static_cast<std::int64_t>((bytes + kBlockSize - 1) / kBlockSize);
}

}  // namespace

DiscHead DiscImageHead(const std::string& label, const std::vector<DiscHeadFile>& files) {
  // The folders and what each holds, "" being the root.
  std::map<std::string, Folder> folders;
  std::vector<std::string> folderOrder = {""};
  folders[""];
  for (std::size_t index = 0; index < files.size(); ++index) {
    std::string parent;
    std::size_t from = 0;
    for (std::size_t slash; (slash = files[index].path.find('/', from)) != std::string::npos;
         from = slash + 1) {
      const std::string name = files[index].path.substr(from, slash - from);
      const std::string path = parent.empty() ? name : parent + "/" + name;
      Folder& holder = folders[parent];
      if (!holder.isFolder.count(name)) {
        holder.order.push_back(name);
        holder.isFolder[name] = true;
        folders[path];
        folderOrder.push_back(path);
      }
      parent = path;
    }
    const std::string name = files[index].path.substr(from);
    folders[parent].order.push_back(name);
    folders[parent].isFolder[name] = false;
    folders[parent].file[name] = index;
  }
  // Where everything lies: the header, the directories, then the files.
  const std::size_t perBlock = (kBlockSize - kBlockHeaderSize) / kEntrySize;
  std::int64_t next = 1;
  for (const std::string& path : folderOrder) {
    Folder& folder = folders[path];
    folder.firstBlock = next;
    folder.blocks =
        std::max<std::int64_t>(1, static_cast<std::int64_t>((folder.order.size() + perBlock - 1) / perBlock));
    next += folder.blocks;
  }
  std::vector<std::int64_t> fileBlock(files.size());
  for (std::size_t index = 0; index < files.size(); ++index) {
    fileBlock[index] = next;
    next += BlocksFor(static_cast<std::size_t>(files[index].size));
  }
  const std::int64_t headBlocks = fileBlock.empty() ? next : fileBlock.front();
  std::vector<unsigned char> image(static_cast<std::size_t>(headBlocks * kBlockSize), 0);

  image[kRecordTypeOffset] = 1;
  std::memcpy(image.data() + kSyncOffset, "ZZZZZ", 5);
  image[kVersionOffset] = 1;
  std::memcpy(image.data() + kLabelOffset, label.data(), std::min(label.size(), kLabelSize));
  Put32(image, kVolumeBlockSizeOffset, static_cast<std::uint32_t>(kBlockSize));
  Put32(image, kVolumeBlockCountOffset, static_cast<std::uint32_t>(next));
  Put32(image, kRootBlockCountOffset, static_cast<std::uint32_t>(folders[""].blocks));
  Put32(image, kRootBlockSizeOffset, static_cast<std::uint32_t>(kBlockSize));
  Put32(image, kRootLastCopyOffset, 0);
  Put32(image, kRootCopiesOffset, static_cast<std::uint32_t>(folders[""].firstBlock));

  std::uint32_t id = 1;
  for (const std::string& path : folderOrder) {
    const Folder& folder = folders[path];
    for (std::int64_t block = 0; block < folder.blocks; ++block) {
      const auto at = static_cast<std::size_t>((folder.firstBlock + block) * kBlockSize);
      const std::size_t first = static_cast<std::size_t>(block) * perBlock;
      const std::size_t count =
          std::min(perBlock, folder.order.size() - std::min(first, folder.order.size()));
      Put32(image, at + kNextBlockOffset,
            block + 1 < folder.blocks ? static_cast<std::uint32_t>(block + 1) : 0xFFFFFFFF);
      Put32(image, at + kPreviousBlockOffset, block > 0 ? static_cast<std::uint32_t>(block - 1) : 0xFFFFFFFF);
      Put32(image, at + kFirstFreeOffset, static_cast<std::uint32_t>(kBlockHeaderSize + count * kEntrySize));
      Put32(image, at + kFirstEntryOffset, static_cast<std::uint32_t>(kBlockHeaderSize));
      for (std::size_t n = 0; n < count; ++n) {
        const std::string& name = folder.order[first + n];
        const std::size_t entry = at + kBlockHeaderSize + n * kEntrySize;
        const bool isFolder = folder.isFolder.at(name);
        const std::string childPath = path.empty() ? name : path + "/" + name;
        std::uint32_t flags = isFolder ? kDirectoryEntry : kFileEntry;
        if (n + 1 == count) flags |= block + 1 == folder.blocks ? kLastInDirectory : kLastInBlock;
        Put32(image, entry + kEntryFlagsOffset, flags);
        Put32(image, entry + kEntryIdOffset, id++);
        std::memcpy(image.data() + entry + kEntryTypeOffset, isFolder ? "*dir" : "file", 4);
        Put32(image, entry + kEntryBlockSizeOffset, static_cast<std::uint32_t>(kBlockSize));
        std::int64_t blocks = 0, first = 0, bytes = 0;
        if (isFolder) {
          blocks = folders[childPath].blocks;
          first = folders[childPath].firstBlock;
          bytes = blocks * kBlockSize;
        } else {
          const std::size_t index = folder.file.at(name);
          bytes = files[index].size;
          blocks = BlocksFor(static_cast<std::size_t>(bytes));
          first = fileBlock[index];
        }
        Put32(image, entry + kEntryByteCountOffset, static_cast<std::uint32_t>(bytes));
        Put32(image, entry + kEntryBlockCountOffset, static_cast<std::uint32_t>(blocks));
        std::memcpy(image.data() + entry + kEntryNameOffset, name.data(),
                    std::min(name.size(), kEntryNameSize));
        Put32(image, entry + kEntryLastCopyOffset, 0);
        Put32(image, entry + kEntryCopiesOffset, static_cast<std::uint32_t>(first));
      }
    }
  }
  return {std::move(image), std::move(fileBlock)};
}

std::vector<unsigned char> DiscImageBytes(const std::string& label,
                                          const std::vector<DiscWriterFile>& files) {
  std::vector<DiscHeadFile> sizes;
  for (const DiscWriterFile& file : files)
    sizes.push_back({file.path, static_cast<std::int64_t>(file.bytes.size())});
  DiscHead head = DiscImageHead(label, sizes);
  std::vector<unsigned char>& image = head.bytes;
  for (std::size_t index = 0; index < files.size(); ++index) {
    const auto at = static_cast<std::size_t>(head.firstBlocks[index] * kBlockSize);
    image.resize(std::max(image.size(),
                          at + static_cast<std::size_t>(BlocksFor(files[index].bytes.size()) * kBlockSize)),
                 0);
    std::copy(files[index].bytes.begin(), files[index].bytes.end(),
              image.begin() + static_cast<std::ptrdiff_t>(at));
  }
  return image;
}

}  // namespace morvane
