#include "app/session_driver.h"

#include "platform/console.h"
#include "platform/format_text.h"
#include "platform/hresult_error.h"

namespace corvantis {

void SelectAmdAdapter(BenchmarkSession& session) {
  if (session.Options.AdapterIndex >= 0) {
    check_hresult(session.DxgiFactory->EnumAdapters1(
        static_cast<std::uint32_t>(session.Options.AdapterIndex), session.Adapter.put()));
    check_hresult(session.Adapter->GetDesc1(&session.AdapterDescription));
    return;
  }
  for (std::uint32_t index = 0;; ++index) {
    const HRESULT hr = session.DxgiFactory->EnumAdapters1(index, session.Adapter.put());
    if (hr == DXGI_ERROR_NOT_FOUND && !session.Options.UseSoftwareAdapter) {
      StdErr().WriteLine(
          L"corvantis: no AMD graphics adapter found; run with -Adapter:Software to measure the "
          L"software encoders instead.");
    }
    check_hresult(hr);
    check_hresult(session.Adapter->GetDesc1(&session.AdapterDescription));
    const bool wanted = session.Options.UseSoftwareAdapter
                            ? (session.AdapterDescription.Flags & DXGI_ADAPTER_FLAG_SOFTWARE) != 0
                            : session.AdapterDescription.VendorId == kAmdVendorId;
    if (wanted) return;
    session.Adapter.reset();
  }
}

namespace {

void SeedResultsText(BenchmarkSession& session) {
  const DXGI_ADAPTER_DESC1& d = session.AdapterDescription;
  session.ResultsText = FormatWide(L"%ls (Corvantis)\n\n", d.Description);
  session.ResultsText += FormatWide(L"Vendor 0x%04X, Device 0x%04X, 0x%04X, 0x%04X", d.VendorId,
                                    d.DeviceId, d.SubSysId, d.Revision);
  session.ResultsText += L"\n\n";
}

}  // namespace

int RunBenchmarkSession(BenchmarkSession& session, SessionEnvironment& environment) {
  check_hresult(environment.RoInitialize());
  environment.StartCrashReporting();
  if (!session.UserEmail.empty()) environment.ReportUser(session.UserEmail);
  environment.ReportDriverVersion();
  try {
    GraphicsApi& graphics = environment.Graphics();
    check_hresult(graphics.CreateDXGIFactory2(0, session.DxgiFactory.put()));
    SelectAmdAdapter(session);
    environment.ReportAdapter(session.AdapterDescription);
    check_hresult(graphics.D3D11CreateDevice(session.Adapter.get(),
                                             D3D11_CREATE_DEVICE_BGRA_SUPPORT, session.Device.put(),
                                             session.DeviceContext.put()));
    session.Device->SetMultithreadProtected(true);
    session.TextureDescription.MipLevels = 1;
    session.TextureDescription.BindFlags |= D3D11_BIND_RENDER_TARGET;
    check_hresult(graphics.D2D1CreateFactory(session.D2DFactory.put()));
    check_hresult(graphics.DWriteCreateFactory(session.DWriteFactory.put()));
    check_hresult(graphics.CreateWicImagingFactory(session.WicFactory.put()));
    try {
      SeedResultsText(session);
      StdOut().WriteLine(kBanner);
      StdOut().EndLine();
      environment.RunScenarioSeries(session, AvcProfile());
      environment.RunScenarioSeries(session, HevcProfile());
    } catch (...) {
      // Whatever the series left in ResultsText is still sent.
    }
    environment.SubmitResults(session);
  } catch (...) {
    // Set-up failed: nothing to encode, nothing to send.
  }
  environment.StopCrashReporting();
  return 0;
}

}  // namespace corvantis
