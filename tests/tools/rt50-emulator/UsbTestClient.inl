namespace rt50test {

template <typename Pixel>
std::vector<uint8_t> PlaneBitmap(int width, int height, Pixel pixel)
{
    const uint32_t stride = (static_cast<uint32_t>(width) + 3) & ~3u;
    const uint32_t n = stride * static_cast<uint32_t>(height);
    std::vector<uint8_t> file(1088 + n, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            file[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    file[0] = 'B';
    file[1] = 'M';
    put32(2, 1088 + n);
    put32(10, 1088);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(height));
    file[26] = 1;
    file[28] = 8;
    put32(34, n);
    put32(38, 11811);
    put32(42, 11811);
    put32(46, 256);
    put32(50, 256);
    for (int i = 0; i < 256; ++i)
        for (int c = 0; c < 3; ++c)
            file[54 + 4 * i + c] = static_cast<uint8_t>(i);
    for (int row = 0; row < height; ++row)
        for (int x = 0; x < width; ++x)
            file[1088 + static_cast<size_t>(row) * stride + x] = pixel(x, height - 1 - row);
    return file;
}

}  // namespace rt50test
