using System;
using System.IO;
using System.ServiceModel;
using System.Threading;

namespace Zorvik.Conformance
{
    // Hosts the metrics contract at http://127.0.0.1:PORT/kaldris/Mervo3/mervoservice2.asmx
    // until the process is ended.
    //   MervoConformance.exe --port PORT --calls FILE [--ready FILE]
    // The ready file receives the endpoint URL once the service listens.
    public static class Program
    {
        private const string ServicePath = "/kaldris/Mervo3/mervoservice2.asmx";

        public static int Main(string[] args)
        {
            string port = null, calls = null, ready = null;
            for (int i = 0; i + 1 < args.Length; i += 2)
            {
                switch (args[i])
                {
                    case "--port": port = args[i + 1]; break;
                    case "--calls": calls = args[i + 1]; break;
                    case "--ready": ready = args[i + 1]; break;
                    default: return Usage("unknown option " + args[i]);
                }
            }
            int portNumber;
            if (port == null || calls == null || args.Length % 2 != 0
                || !int.TryParse(port, out portNumber) || portNumber <= 0 || portNumber > 65535)
                return Usage("--port and --calls are required");

            var address = new Uri("http://127.0.0.1:" + portNumber + ServicePath);
            var host = new ServiceHost(new MervoMetricsService(new CallLog(calls)));
            host.AddServiceEndpoint(typeof(IMervoMetrics), new BasicHttpBinding(), address);
            try
            {
                host.Open();
            }
            catch (Exception error)
            {
                Console.Error.WriteLine("MervoConformance: cannot listen on {0}: {1}", address, error.Message);
                return 3;
            }
            if (ready != null)
            {
                // Whole or not at all, for the caller that polls for it.
                File.WriteAllText(ready + ".tmp", address + "\n");
                File.Move(ready + ".tmp", ready);
            }
            Console.WriteLine("MervoConformance: listening on {0}", address);
            Thread.Sleep(Timeout.Infinite);
            return 0;
        }

        private static int Usage(string problem)
        {
            Console.Error.WriteLine("MervoConformance: " + problem);
            Console.Error.WriteLine("usage: MervoConformance.exe --port PORT --calls FILE [--ready FILE]");
            return 2;
        }
    }
}
