namespace rt50test {

template <typename Pixel>
std::vector<uint8_t> PlaneBitmap(int width, int height, Pixel pixel)
{
    std::vector<uint8_t> file(static_cast<size_t>(_PlaneFileSize(width, height)));
    if (_EncodePlaneHeader(file.data(), width, height, 300, 300) != kProtoOk)
        return {};
    const size_t stride = static_cast<size_t>(_PlaneRowBytes(width));
    for (int row = 0; row < height; ++row)
        for (int x = 0; x < width; ++x)
            file[kPlaneFileHeaderSize + static_cast<size_t>(row) * stride + static_cast<size_t>(x)] =
                pixel(x, height - 1 - row);
    return file;
}

}  // namespace rt50test
